// The solid-state question's rule and text.
#include "solid_state_question.h"

namespace shell {

std::optional<std::string> SolidStateQuestion(char letter, const VexaVolumeInfo* info) {
  if (info == nullptr || info->solidState == 0) return std::nullopt;
  return std::string(1, letter) +
         ": is a solid-state drive: defragmenting it adds wear and does not make it faster. Defragment it anyway?";
}

}  // namespace shell
