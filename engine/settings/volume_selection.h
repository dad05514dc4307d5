// The logic of the volume selection dialog (ScheduleDlg with its list SelVolumeList and
// the header box MyCheckBox), apart from the windows: the rows, the ticked count kept
// from the list's change notifications, the header box that ticks or unticks every row,
// and the result of "Next".
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vexa {

struct VolumeRow {
  char letter = 0;      // column 0: the letter alone
  std::string size;     // column 1: the volume's total-size text, empty when unknown
  bool operator==(const VolumeRow&) const = default;
};

// One row per drive letter C to Z (in that order) that the engine's machine reports as
// a fixed drive, with the size text from the volume table. Front end's thread.
std::vector<VolumeRow> FixedVolumeRows();

// The list's tick bookkeeping. All rows start unticked.
class VolumeSelection {
 public:
  explicit VolumeSelection(std::size_t rowCount) : rowCount_(rowCount) {}

  // A row's check box changed (the list's change notification). Ignored while the
  // header box changes every row.
  void RowChanged(bool wasTicked, bool isTicked);
  // The header box was pressed: every row must get the returned state. Call
  // FinishHeaderPress once the rows are set; notifications in between are not counted.
  bool BeginHeaderPress();
  void FinishHeaderPress() { bulkUpdate_ = false; }

  // Whether the header box shows ticked: exactly when every row is ticked.
  bool HeaderTicked() const { return allTicked_; }
  std::size_t TickedCount() const { return ticked_; }

  // "Next" with the rows' check boxes as they stand (top to bottom): the ticked
  // letters in row order, or nothing when none is ticked (the dialog then shows
  // kSelectVolume and stays open).
  static std::optional<std::string> Next(const std::vector<VolumeRow>& rows, const std::vector<bool>& ticks);

 private:
  std::size_t rowCount_;
  std::size_t ticked_ = 0;
  bool allTicked_ = false;
  bool bulkUpdate_ = false;
};

}  // namespace vexa
