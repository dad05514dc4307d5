// FAT and exFAT date and time fields as Windows FILETIMEs.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/win_types.h"

namespace platform::fat {

// FAT date and time (local time as stored) to a FILETIME count of 100 ns since 1601.
inline FILETIME ToFileTime(std::uint16_t date, std::uint16_t time, std::uint8_t tenths) {
  if (date == 0) return {0, 0};
  const int year = 1980 + (date >> 9);
  const unsigned month = std::clamp((date >> 5) & 0xF, 1, 12);
  const unsigned day = std::clamp(date & 0x1F, 1, 31);
  // Days from 1601-01-01 by the civil-from-days algorithm.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t daysSince1970 = std::int64_t{era} * 146097 + doe - 719468;
  const std::int64_t daysSince1601 = daysSince1970 + 134774;
  const std::int64_t seconds = daysSince1601 * 86400 + (time >> 11) * 3600 + ((time >> 5) & 0x3F) * 60 +
                               (time & 0x1F) * 2 + tenths / 100;
  const std::uint64_t ticks = static_cast<std::uint64_t>(seconds) * 10000000ULL + (tenths % 100) * 100000ULL;
  return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}

}  // namespace platform::fat
