// Parts of the POSIX idle readings that tests reach directly.
#pragma once

#include <string>

namespace platform {

// Whether a power-supply folder laid out like /sys/class/power_supply (one sub-folder
// per supply, with "type" and "online" files) says the machine runs on mains power: a
// supply of type "Mains" is online, or no mains supply is listed at all.
bool OnAcPowerIn(const std::string& folder);

}  // namespace platform
