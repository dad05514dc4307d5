// Reading "defragdate" records for the day rule.
#include "defrag_dates.h"

#include <cstdint>
#include <fstream>

namespace realtime {

std::optional<std::time_t> LastDefragmentation(const std::string& fileName, char letter) {
  const char upper = (letter >= 'a' && letter <= 'z') ? static_cast<char>(letter - 'a' + 'A') : letter;
  if (upper < 'C' || upper > 'Z') return std::nullopt;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg((upper - 'C') * 16);
  unsigned char bytes[16];
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof(bytes))) return std::nullopt;
  int field[8];
  for (int i = 0; i < 8; ++i) field[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
  const int year = field[0], month = field[1], day = field[3], hour = field[4], minute = field[5],
            second = field[6];
  // An all-zero record is a slot that was never written; out-of-range fields are damage.
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return when;
}

bool VolumeDue(const std::string& fileName, char letter, std::time_t now) {
  const auto last = LastDefragmentation(fileName, letter);
  if (!last) return true;
  if (*last > now) return *last - now >= kDayRuleSeconds;
  return now - *last >= kDayRuleSeconds;
}

}  // namespace realtime
