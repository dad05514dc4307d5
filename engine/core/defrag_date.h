// "defragdate": the date of each volume's last defragmentation, and the
// defragmentation age derived from it.
//
// One 16-byte record per slot at offset slot * 16, eight unsigned 16-bit fields:
// year, month (1-12), day of week (written 0, ignored), day (1-31), hour (0-23),
// minute (0-59), second (0-59), milliseconds (written 0, ignored).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vexa {

inline constexpr int kDefragDateRecordSize = 16;

// Age of slot s from the file `fileName`: 0 when the file is missing or empty;
// otherwise 1 when the recorded date is less than two days before `now` (or in the
// future), else 2. A record with a year below 1900, or with any field out of its
// range, counts as the start of 1970.
std::int32_t DefragmentationAge(const std::string& fileName, int s, std::time_t now);

// Writes slot s's record with the local time `when`, creating the file when missing.
[[nodiscard]] bool WriteDefragDate(const std::string& fileName, int s, std::time_t when);

// Creates `fileName` with `size` zero bytes when it does not exist. False when it is
// missing and cannot be created.
[[nodiscard]] bool EnsureZeroFile(const std::string& fileName, std::size_t size);

}  // namespace vexa
