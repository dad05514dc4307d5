// vexa demo [DIR]: builds the demo volume, maps it as C, analyses it, defragments it in
// depth and prints what changed.
#pragma once

#include <string>

#include "command_line.h"

namespace cli {

// Runs the demo with the engine in `engineFolder`; returns the exit code. Main thread.
int RunDemoCommand(const Options& options, const std::string& engineFolder);

// The folder a demo uses when none is given: a new "demo-<date>-<time>" folder under
// the user's cache folder ($XDG_CACHE_HOME or ~/.cache, %LOCALAPPDATA% on Windows) in
// "vexa", else under the temporary folder.
std::string DefaultDemoFolder();

}  // namespace cli
