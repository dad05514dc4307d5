// vexa analyze|defrag|optimize LETTERS (and LETTERS alone): one engine job over the
// named volumes, its progress, its summary or JSON, and its exit code.
#pragma once

#include <string>

#include "command_line.h"

namespace cli {

// Runs the job `options` asks for with the engine in `engineFolder`; returns the exit
// code. Main thread.
int RunVolumeCommand(const Options& options, const std::string& engineFolder);

}  // namespace cli
