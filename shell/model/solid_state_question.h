// The question DefragShell asks before it defragments a volume on a solid-state drive.
#pragma once

#include <optional>
#include <string>

#include "vexa/vexa.h"

namespace shell {

// The Yes/No question for volume `letter` when the engine reports its disk without seek
// penalty (`info->solidState`), or nullopt when no question is due (a disk with a seek
// penalty, one that cannot say, or no volume). The defragmentation and in-depth
// buttons ask it before they start their job; an analysis never asks. "No" leaves the
// volume as it is.
std::optional<std::string> SolidStateQuestion(char letter, const VexaVolumeInfo* info);

}  // namespace shell
