// vexa options and vexa schedule: the engine's settings and the scheduled run without
// the dialogs (for scripts, and on Linux where there are none).
#pragma once

#include <string>

#include "command_line.h"

namespace cli {

// Prints the exclusion texts and the switches, after changing them as a confirmed
// Options dialog does when `options` names any change. Returns the exit code.
int RunOptionsCommand(const Options& options, const std::string& engineFolder);
// Shows, adds or removes the scheduled daily run. Returns the exit code.
int RunScheduleCommand(const Options& options, const std::string& engineFolder);

}  // namespace cli
