// Time texts of a report: start and finish as local time, and the elapsed time.
#include "report/time_texts.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace vexa::report {

std::string ClockText(std::int64_t secondsSince1970) {
  const std::time_t time = static_cast<std::time_t>(secondsSince1970);
  if (static_cast<std::int64_t>(time) != secondsSince1970) return {};
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &time) != 0) return {};
#else
  if (localtime_r(&time, &local) == nullptr) return {};
#endif
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%H:%M:%S %Y-%m-%d", &local);
  return std::string(buffer, length);
}

std::string ElapsedText(std::int64_t seconds) {
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds / 60 - (seconds / 3600) * 60;
  const std::int64_t rest = seconds - (seconds / 60) * 60;
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, "%02" PRId64 ":%02" PRId64 ":%02" PRId64,
                                   hours, minutes, rest);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace vexa::report
