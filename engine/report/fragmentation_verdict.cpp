// The fragmentation verdict of an analysis report and the volume's fragmentation text.
#include "report/fragmentation_verdict.h"

#include <charconv>

namespace vexa::report {

int CountFragmentedCells(const VexaMapCell* cells) {
  if (cells == nullptr) return 0;
  int count = 0;
  for (int i = 0; i < VEXA_MAP_CELLS; ++i) {
    // One copy per cell, so a worker writing the cell meanwhile cannot make the
    // comparisons see two different states.
    const VexaMapCell cell = cells[i];
    if (cell.inUse > 0 && cell.systemCount == 0 && cell.fragmentedCount > cell.contiguousCount &&
        cell.fragmentedCount > cell.partlyCount) {
      ++count;
    }
  }
  return count;
}

std::string FragmentationPercentText(int fragmentedCells) {
  // Six fixed decimals as "%f" gives them, without a locale's decimal comma; the text
  // is then cut two characters after the point.
  const double percent = static_cast<double>(fragmentedCells) / 1000 * 100;
  char digits[64];
  auto result = std::to_chars(digits, digits + sizeof digits, percent,
                              std::chars_format::fixed, 6);
  std::string text(digits, result.ptr);
  const std::size_t point = text.find('.');
  if (point != std::string::npos && point + 3 < text.size()) text.resize(point + 3);
  text += '%';
  return text;
}

FragmentationVerdict JudgeFragmentation(int defragAge, const VexaMapCell* cells,
                                        bool fragmentListEmpty, std::int32_t bigFragmentFiles) {
  if (defragAge == 1) return {"No need to defrag this volume.", "0.00%"};

  std::string percent = FragmentationPercentText(CountFragmentedCells(cells));
  if ((!fragmentListEmpty && percent == "0.00%") || bigFragmentFiles == 0) {
    return {"Percentage of fragments is low", "Low"};
  }
  return {"Percentage of fragments is " + percent, percent};
}

}  // namespace vexa::report
