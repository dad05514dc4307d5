// vexa check|contig|put: per-file work on one volume through the engine's per-file
// entries, with its texts, JSON and exit codes.
#pragma once

#include <cstdint>
#include <string>

#include "command_line.h"
#include "vexa/vexa.h"

namespace cli {

// Runs the check, contig or put command of `options` with the engine in
// `engineFolder`; returns the exit code. Main thread.
int RunPerFileCommand(const Options& options, const std::string& engineFolder);

// A name as the engine hands it out, as the terminal shows it: the providers already
// speak UTF-8 on Linux and the code page on Windows, so it passes unchanged.
std::string FromVolumeText(const std::string& text);

// The sentence for a file no free run can take: "X.ISO needs 1,024,000 contiguous
// clusters; the largest free run has 300,112", or, when up to `maxPieces` > 1 pieces
// are allowed, how many runs it would take.
std::string NoRunText(const std::string& path, const VexaFileResult& result, std::uint32_t maxPieces);

}  // namespace cli
