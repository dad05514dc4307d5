// The volume selection dialog's logic.
#include "settings/volume_selection.h"

#include "core/engine.h"
#include "core/volume_table.h"
#include "platform/win_types.h"

namespace vexa {

std::vector<VolumeRow> FixedVolumeRows() {
  std::vector<VolumeRow> rows;
  if (gMachine == nullptr) return rows;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (gMachine->DriveType(letter) != platform::kDriveFixed) continue;
    const VolumeRecord& record = gVolumes[SlotOfLetter(letter)];
    // Empty for a drive that was not there when the engine started.
    rows.push_back({letter, record.totalSizeText});
  }
  return rows;
}

void VolumeSelection::RowChanged(bool wasTicked, bool isTicked) {
  if (bulkUpdate_ || wasTicked == isTicked) return;
  if (isTicked) {
    if (ticked_ < rowCount_) ++ticked_;
    if (ticked_ == rowCount_) allTicked_ = true;
  } else {
    if (ticked_ > 0) --ticked_;
    if (ticked_ < rowCount_) allTicked_ = false;
  }
}

bool VolumeSelection::BeginHeaderPress() {
  bulkUpdate_ = true;
  const bool wasAllTicked = allTicked_;
  allTicked_ = !allTicked_;
  ticked_ = wasAllTicked ? 0 : rowCount_;
  return !wasAllTicked;
}

std::optional<std::string> VolumeSelection::Next(const std::vector<VolumeRow>& rows, const std::vector<bool>& ticks) {
  std::string letters;
  for (std::size_t i = 0; i < rows.size() && i < ticks.size(); ++i) {
    if (ticks[i]) letters += rows[i].letter;
  }
  if (letters.empty()) return std::nullopt;
  return letters;
}

}  // namespace vexa
