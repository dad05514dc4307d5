// A fingerprint of a volume's allocation: a hash of its volume bitmap.
//
// The defragmentation worker records it at the end of a job; while the bitmap still
// hashes the same, nothing has been allocated or freed since, so files the job could
// not join are all that is fragmented there. Any change (a file written, deleted,
// grown, moved by another program) gives another fingerprint.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/machine.h"

namespace vexa {

// FNV-1a (64-bit) over the cluster count and the bitmap bytes of `clusters` clusters,
// the bits past the last cluster taken as 0 (a bitmap read may leave them anything).
std::uint64_t BitmapFingerprint(const std::uint8_t* bits, std::int64_t clusters);

// Reads the whole bitmap of the open `volume` and returns its fingerprint; nullopt
// when it cannot be read. Uses a buffer of its own, so any thread may call it while a
// pass uses the shared one.
std::optional<std::uint64_t> VolumeFingerprint(platform::Machine& machine, platform::Handle volume);

}  // namespace vexa
