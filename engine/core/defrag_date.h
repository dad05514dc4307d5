// "defragdate": the date of each volume's last defragmentation; "defragvol": which
// volume that was; "defragprint": its allocation when the job ended; the
// defragmentation age derived from the three.
//
// "defragdate" holds one 16-byte record per slot at offset slot * 16, eight unsigned
// 16-bit little-endian fields: year, month (1-12), day of week (written 0, ignored),
// day (1-31), hour (0-23), minute (0-59), second (0-59), milliseconds (written 0,
// ignored).
//
// "defragvol" is its companion in the same slot order: one 8-byte record per slot at
// offset slot * 8, two unsigned 32-bit little-endian fields:
//   bytes 0-3  1 when the record names a volume, 0 when it names none;
//   bytes 4-7  the volume serial number of the volume whose date the slot holds.
// A drive letter may name another volume than the one defragmented (an image swapped
// under a letter, a card changed): the date then says nothing about the volume now there.
//
// "defragprint" is the second companion, in the same slot order: one 16-byte record per
// slot at offset slot * 16:
//   bytes 0-3   1 when the record holds a fingerprint, 0 when it holds none;
//   bytes 4-7   0;
//   bytes 8-15  the fingerprint of the volume's bitmap read when the job ended
//               (core/allocation_fingerprint.h), unsigned 64-bit little-endian.
// A recent date means "nothing to do" only while nothing has changed: new files written
// in pieces after the job must be reported, not hidden for two days.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vexa {

inline constexpr char kDefragDateFileName[] = "defragdate";
inline constexpr int kDefragDateRecordSize = 16;
inline constexpr char kDefragVolumeFileName[] = "defragvol";
inline constexpr int kDefragVolumeRecordSize = 8;
static_assert(kDefragVolumeRecordSize == 2 * sizeof(std::uint32_t), "flag word and serial number");
inline constexpr char kDefragPrintFileName[] = "defragprint";
inline constexpr int kDefragPrintRecordSize = 16;
static_assert(kDefragPrintRecordSize == 2 * sizeof(std::uint32_t) + sizeof(std::uint64_t),
              "flag word, reserved word and fingerprint");

// Age of slot s from the file `fileName`: 0 when the file is missing or empty;
// otherwise 1 when the recorded date is less than two days before `now` (or in the
// future), else 2. A record with a year below 1900, or with any field out of its
// range, counts as the start of 1970.
std::int32_t DefragmentationAge(const std::string& fileName, int s, std::time_t now);

// Writes slot s's record with the local time `when`, creating the file when missing.
[[nodiscard]] bool WriteDefragDate(const std::string& fileName, int s, std::time_t when);

// Whether slot s's record of the "defragvol" file `fileName` names the volume with
// `serial`. False when the file or the record is missing or unreadable, when the record
// names no volume, or when `serial` is unknown (nullopt).
bool RecordedVolumeIs(const std::string& fileName, int s, std::optional<std::uint32_t> serial);

// Writes slot s's "defragvol" record for the volume with `serial` (nullopt: a record
// that names no volume), creating the file when missing.
[[nodiscard]] bool WriteDefragVolume(const std::string& fileName, int s, std::optional<std::uint32_t> serial);

// The age of slot s with the identity check: DefragmentationAge from `dateFile`, except
// that 1 becomes 2 unless `volumeFile` records the volume with `serial` for the slot.
std::int32_t VolumeDefragmentationAge(const std::string& dateFile, const std::string& volumeFile, int s,
                                      std::optional<std::uint32_t> serial, std::time_t now);

// Whether slot s's record of the "defragprint" file `fileName` holds `fingerprint`.
// False when the file or the record is missing or unreadable, when the record holds no
// fingerprint, or when `fingerprint` is unknown (nullopt).
bool RecordedPrintIs(const std::string& fileName, int s, std::optional<std::uint64_t> fingerprint);

// Writes slot s's "defragprint" record (nullopt: a record that holds none), creating
// the file when missing.
[[nodiscard]] bool WriteDefragPrint(const std::string& fileName, int s, std::optional<std::uint64_t> fingerprint);

// Creates `fileName` with `size` zero bytes when it does not exist. False when it is
// missing and cannot be created.
[[nodiscard]] bool EnsureZeroFile(const std::string& fileName, std::size_t size);

}  // namespace vexa
