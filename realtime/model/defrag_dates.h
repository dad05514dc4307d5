// The day rule: when each volume was last defragmented, read from the engine's
// "defragdate" file, and whether a volume is due again.
//
// "defragdate" holds one 16-byte record per volume slot (C to Z are slots 0 to 23) at
// offset slot * 16: eight little-endian 16-bit fields, year, month (1-12), day of week
// (ignored), day (1-31), hour, minute, second, milliseconds (ignored), in local time.
// The engine writes a volume's record only when a defragmentation of it ran to its end,
// so a job cut short leaves the volume due.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace realtime {

inline constexpr std::time_t kDayRuleSeconds = 24 * 60 * 60;

// When the volume of `letter` (C to Z, either case) was last defragmented according to
// the file `fileName`, or nullopt when the file has no valid record for it.
std::optional<std::time_t> LastDefragmentation(const std::string& fileName, char letter);

// Whether the volume of `letter` is due at `now`: it has no record, or its record is at
// least a day old. A record up to a day in the future (clock or time-zone changes)
// counts as recent; one further ahead counts as no record.
bool VolumeDue(const std::string& fileName, char letter, std::time_t now);

}  // namespace realtime
