// The exFAT provider: one drive letter served from an exFAT image file or an unmounted
// block device, answering the volume seam as Windows answers for exFAT.
//
// What it reports: a fixed drive; "exFAT" and the volume label entry's text; logical
// cluster 0 = cluster 2; the allocation bitmap as the volume bitmap; retrieval pointers
// as runs of consecutive clusters, counted from DataLength (NoFatChain files as one
// run); folder searches in on-disk order, with "." and ".." first in subfolders as the
// Windows driver makes them (exFAT stores none).
// Moves are crash-safe and committed in groups, one per file handle (see
// platform/exfat/exfat_mover.cpp); FlushFileBuffers on the volume handle ends the job's
// writes and clears VolumeDirty, as closing the machine does. A search for a plain path
// finds that one entry. A volume that fails validation, a TexFAT volume or one with
// unknown entry types answers everything but refuses moves. CreateFileInRuns makes new
// files crash-safely (platform/exfat/exfat_file_creator.cpp); UnmovableReason names
// files no move may touch ("its directory entry spans two sectors"). OpenFatVolume
// (fat_provider.h) hands exFAT images here on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/fat_io.h"
#include "platform/fat_open_status.h"
#include "platform/machine.h"

namespace platform::exfat {

// True when the volume's first bytes (at least 512 of them) name an exFAT file system.
bool IsExfat(const std::uint8_t* firstSector, std::size_t size);

// Serves the exFAT volume held by `io` as drive `letter` (C to Z, either case). Returns
// null when it cannot be served; *status (never null) says why, or, with a machine,
// whether it is read-only and why; *damage (when not null) receives what validation
// found. The machine owns `io`; the caller owns the machine, which may be called from
// any thread (calls are serialised).
// `claims` and `reclaimed` as for OpenFatVolume (fat_provider.h).
std::unique_ptr<Machine> OpenExfatVolume(char letter, std::unique_ptr<platform::fat::FatIo> io,
                                         platform::fat::FatOpenStatus* status,
                                         platform::fat::FatDamage* damage = nullptr,
                                         const platform::fat::ClaimOptions* claims = nullptr,
                                         platform::fat::ReclaimResult* reclaimed = nullptr);

}  // namespace platform::exfat
