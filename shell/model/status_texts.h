// Status texts and progress length: what one poll of the engine's status record shows.
#pragma once

#include <string>

#include "vexa/vexa.h"

namespace shell {

// Width of the progress bar fill when full, in pixels.
inline constexpr int kProgressFull = 600;

// What the window shows after one poll.
struct PollView {
  std::string stateText;    // LogLabel
  std::string clusterText;  // clusterLabel
  std::string fileText;     // PathLabel
  int progressLength = 0;   // ImageZJ width, 0..kProgressFull
  char drive = 0;           // the current drive after this poll
  bool engineIdle = false;  // status state 0: nothing to refresh
};

// Turns a status record into the window's texts. `previousDrive` stays the current
// drive when the record names no volume (idle, or a nonzero state with letter 0).
// The record may be caught mid-update; every field is read once and used as found.
// Any thread; no state.
PollView ReadStatus(const VexaWorkingStatus& status, char previousDrive);

// Progress length for a position within a range, in 64 bits so large candidate counts
// cannot overflow: 0 for a range of 0, clamped to 0..kProgressFull.
int ProgressLength(std::int32_t position, std::int32_t range);

}  // namespace shell
