// Status texts and progress length from the engine's status record.
#include "model/status_texts.h"

#include <cstdint>
#include <cstring>

namespace shell {

int ProgressLength(std::int32_t position, std::int32_t range) {
  if (range == 0) return 0;
  const std::int64_t length = static_cast<std::int64_t>(position) * kProgressFull / range;
  if (length >= kProgressFull) return kProgressFull;
  if (length <= 0) return 0;
  return static_cast<int>(length);
}

PollView ReadStatus(const VexaWorkingStatus& status, char previousDrive) {
  PollView view;
  view.drive = previousDrive;
  const std::int32_t state = status.state;
  if (state == VEXA_STATE_IDLE) {
    view.engineIdle = true;
    view.progressLength = kProgressFull;
    return view;
  }
  const char letter = status.letter;
  if (letter != 0) view.drive = letter;
  const std::string drive(1, view.drive);
  if (state == VEXA_STATE_ANALYSING) {
    view.stateText = "Scanning  " + drive + " drive.";
  } else if (state == VEXA_STATE_DEFRAGMENTING) {
    view.stateText = "Defragmenting  " + drive + " drive.";
  } else {
    view.stateText = "In-depth Defragmenting  " + drive + " drive.";
  }
  if (state >= VEXA_STATE_DEFRAGMENTING) {
    const std::uint64_t source = status.moveSource;
    const std::uint64_t target = status.moveTarget;
    if (source == 0 && target == 0) {
      view.clusterText = "Checking fragments...";
    } else {
      view.clusterText = "moving cluster(s) " + std::to_string(source) + " to " + std::to_string(target);
    }
    // The name may be caught mid-copy: never read past the field.
    view.fileText = "moving file(s) " + std::string(status.currentName, strnlen(status.currentName, sizeof status.currentName));
  }
  view.progressLength = ProgressLength(status.progressPosition, status.progressRange);
  return view;
}

}  // namespace shell
