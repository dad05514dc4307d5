// The exit codes of vexa.
#pragma once

namespace cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;    // bad usage; the usage is printed
inline constexpr int kExitVolume = 2;   // a volume does not exist, cannot be opened, or is
                                        // read-only (or too full) for a defragmentation
inline constexpr int kExitEngine = 3;   // the engine library cannot be loaded
inline constexpr int kExitOverLimit = 5;  // check: files in more pieces than allowed
inline constexpr int kExitNoRun = 6;      // contig, put: no free run (or N runs) large enough
inline constexpr int kExitStopped = 130;

}  // namespace cli
