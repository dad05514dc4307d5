// The FAT provider: one drive letter served from a FAT12/16/32 image file or an
// unmounted block device, answering the volume seam as Windows answers for FAT.
//
// What it reports: a fixed drive; "FAT12", "FAT16" or "FAT32" and the label of the root
// folder's label entry; logical cluster 0 = FAT cluster 2; a bitmap over the data
// clusters in which bad clusters count as used; retrieval pointers as runs of
// consecutive clusters (kErrorMoreData when the buffer is short, kErrorHandleEof for a
// file without clusters); folder searches in on-disk order with the long name where
// there is one, else the 8.3 name with its entry's case flags, "." and ".." in
// subfolders only, never the label entry; a search for a plain path finds that one
// entry. Moves are crash-safe and committed in groups, one per file handle (see
// platform/fat/mover.cpp); FlushFileBuffers on the volume handle ends the job's writes
// and marks the volume clean, as closing the machine does.
// A volume that fails validation answers everything but refuses moves. An exFAT image
// or device is handed to the exFAT provider (exfat_provider.h).
#pragma once

#include <memory>
#include <string>

#include "platform/fat_io.h"
#include "platform/fat_open_status.h"
#include "platform/machine.h"

namespace platform::fat {

// Opens the image file or block device at `path` and serves it as drive `letter`
// (C to Z, either case). Returns null when the volume cannot be served; *status
// (never null) says why, or, with a machine, whether it is read-only and why.
// The caller owns the machine; it may be called from any thread (calls are serialised).
std::unique_ptr<Machine> OpenFatVolume(char letter, const std::string& path, FatOpenStatus* status);

// The same, and *damage (never null) receives what validation found: counts of lost
// clusters, cross-links, broken chains and differing FAT copies (empty when the volume
// could not be read).
//
// With `claims` (its folder set: the engine's working folder), the volume keeps a claim
// record there while a job writes (platform/claim_journal.h), so that space an
// interrupted job claimed can be given back; a volume marked dirty is writable only
// when such a record says the mark is an interrupted job of ours (otherwise it opens
// read-only, kReadOnlyDirty or its exFAT and error-mark kin). With claims->reclaim, a
// record found is acted on at once: the recorded clusters no file owns are freed, the
// dirty mark cleared and the record removed; *reclaimed (when not null) says what was
// found and done. Nothing is written without reclaim unless a job writes.
std::unique_ptr<Machine> OpenFatVolume(char letter, const std::string& path, FatOpenStatus* status,
                                       FatDamage* damage, const ClaimOptions* claims = nullptr,
                                       ReclaimResult* reclaimed = nullptr);

// The same over an I/O object the caller supplies (memory images, crash-test layers);
// the machine takes ownership of `io`. claims->identityPath names what holds the bytes.
std::unique_ptr<Machine> OpenFatVolume(char letter, std::unique_ptr<FatIo> io, FatOpenStatus* status,
                                       FatDamage* damage = nullptr, const ClaimOptions* claims = nullptr,
                                       ReclaimResult* reclaimed = nullptr);

}  // namespace platform::fat
