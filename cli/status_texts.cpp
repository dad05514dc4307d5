// Status texts from the status record.
#include "status_texts.h"

#include <cstring>

namespace cli {

StatusTexts MakeStatusTexts(const VexaWorkingStatus& status) {
  StatusTexts texts;
  texts.state = status.state;
  if (status.state == VEXA_STATE_IDLE) {
    texts.progressLength = kProgressFull;
    return texts;
  }
  texts.letter = status.letter;
  const std::string letter(1, status.letter);
  if (status.state == VEXA_STATE_ANALYSING) {
    texts.stateText = "Scanning  " + letter + " drive.";
  } else if (status.state == VEXA_STATE_DEFRAGMENTING) {
    texts.stateText = "Defragmenting  " + letter + " drive.";
  } else {
    texts.stateText = "In-depth Defragmenting  " + letter + " drive.";
  }
  if (status.state >= VEXA_STATE_DEFRAGMENTING) {
    if (status.moveSource == 0 && status.moveTarget == 0) {
      texts.clusterText = "Checking fragments...";
    } else {
      texts.clusterText = "moving cluster(s) " + std::to_string(status.moveSource) + " to " +
                          std::to_string(status.moveTarget);
    }
    // The record's name is read while the worker writes it: never past its field.
    const std::size_t length = strnlen(status.currentName, sizeof status.currentName);
    texts.fileText = "moving file(s) " + std::string(status.currentName, length);
  }
  if (status.progressRange != 0) {
    const std::int64_t length =
        static_cast<std::int64_t>(status.progressPosition) * kProgressFull / status.progressRange;
    texts.progressLength = length >= kProgressFull ? kProgressFull : length <= 0 ? 0 : static_cast<int>(length);
  }
  return texts;
}

}  // namespace cli
