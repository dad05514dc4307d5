// The status texts and progress figure made from the engine's status record, as
// DefragShell shows them in its window.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/vexa.h"

namespace cli {

inline constexpr int kProgressFull = 600;  // the progress length of a full bar

struct StatusTexts {
  std::int32_t state = VEXA_STATE_IDLE;
  char letter = 0;
  std::string stateText;    // "Scanning  C drive." ...
  std::string clusterText;  // "Checking fragments..." or "moving cluster(s) S to T"
  std::string fileText;     // "moving file(s) NAME"
  int progressLength = 0;   // 0..kProgressFull
};

// The texts and progress length for one copy of the status record: state 0 gives empty
// texts and a full bar; a range of 0 an empty bar; a position beyond the range a full
// one and a negative position an empty one.
StatusTexts MakeStatusTexts(const VexaWorkingStatus& status);

}  // namespace cli
