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

// A name as typed (UTF-8 on Linux) as the volume stores it (single-byte, Latin-1);
// beyond Latin-1 it is left as typed.
std::string ToVolumeText(const std::string& text);

// A name as the volume stores it (single-byte) as the terminal shows it.
std::string FromVolumeText(const std::string& text);

// The sentence for a file no free run can take: "X.ISO needs 1,024,000 contiguous
// clusters; the largest free run has 300,112", or, when up to `maxPieces` > 1 pieces
// are allowed, how many runs it would take.
std::string NoRunText(const std::string& path, const VexaFileResult& result, std::uint32_t maxPieces);

}  // namespace cli
