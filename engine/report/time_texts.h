// Time texts of a report: start and finish as local time, and the elapsed time.
#pragma once

#include <cstdint>
#include <string>

namespace vexa::report {

// `secondsSince1970` as local time in the form "%H:%M:%S %Y-%m-%d" (14:05:09 2009-03-27);
// empty when the time cannot be converted. Any thread (uses the reentrant conversion).
[[nodiscard]] std::string ClockText(std::int64_t secondsSince1970);

// `seconds` as hours:minutes:seconds, two digits each at least. Hours keep counting past
// a day, so 25 hours and 5 seconds read 25:00:05; divisions truncate toward zero, so a
// negative span (a clock set back) gives negative fields rather than garbage. Any thread.
[[nodiscard]] std::string ElapsedText(std::int64_t seconds);

// The current time in seconds since 1970.
[[nodiscard]] std::int64_t CurrentTime();

}  // namespace vexa::report
