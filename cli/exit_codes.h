// The exit codes of vexa.
#pragma once

namespace cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitUsage = 1;    // bad usage; the one line that says what is wrong
inline constexpr int kExitVolume = 2;   // a volume cannot be used (missing, not FAT, in use,
                                        // refused, read-only, too little free space), or the
                                        // engine's folder is not writable
inline constexpr int kExitEngine = 3;   // the engine library cannot be loaded
inline constexpr int kExitBusy = 4;     // another engine job runs on this computer
inline constexpr int kExitOverLimit = 5;  // check: files in more pieces than allowed
inline constexpr int kExitNoRun = 6;      // contig, put: no free run (or N runs) large enough
inline constexpr int kExitSettings = 7;  // the settings or the schedule could not be changed
inline constexpr int kExitStopped = 130;

}  // namespace cli
