// The free space a defragmentation needs on a volume before it starts.
//
// The engine's rule is 50 MiB. The command-line program may set another minimum for
// volumes served from image files and devices (the volume map), so that floppies and
// small cards can be defragmented; native volumes always keep the engine's rule.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/vexa.h"

namespace vexa {

inline constexpr std::uint64_t kDefaultMinimumFreeBytes = VEXA_DEFAULT_MINIMUM_FREE;

// The letters served from the volume map (upper case). Loading thread, at start-up.
void SetMappedLetters(const std::string& letters);
// The minimum for mapped volumes, in bytes; kDefaultMinimumFreeBytes until set. Any
// thread, between jobs.
void SetMappedMinimumFreeBytes(std::uint64_t bytes);
// Back to the engine's rule for every volume (start-up and shut-down).
void ResetFreeSpaceRule();

// The free space a defragmentation of `letter` needs, in bytes. Any thread.
std::uint64_t MinimumFreeBytes(char letter);

}  // namespace vexa
