// The fragmentation verdict of an analysis report and the volume's fragmentation text.
//
// The share of fragmented map cells, not of files, makes the percentage: a cell counts
// when the colour rule would paint it as fragmented. The verdict line goes into the
// report; the short text ("Low", "0.00%", "12.30%") is kept with the volume and shown
// again as "Fragment before" by the next defragmentation report.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/vexa.h"

namespace vexa::report {

// Map cells that are in use, hold no system entry and have more fragmented extents than
// both whole files and partly contiguous extents, among the VEXA_MAP_CELLS cells at
// `cells` (0 when `cells` is null). Any thread; the cells may change while being read.
[[nodiscard]] int CountFragmentedCells(const VexaMapCell* cells);

// count / 1000 * 100 with two decimals and a percent sign: 34 gives "3.40%". Any thread.
[[nodiscard]] std::string FragmentationPercentText(int fragmentedCells);

struct FragmentationVerdict {
  std::string verdict;      // the report line, for example "Percentage of fragments is 3.40%"
  std::string percentText;  // the volume's fragmentation text: "Low", "0.00%", "3.40%"
};

// The verdict of one analysed volume. `defragAge` 1 (defragmented less than two days ago)
// gives "No need to defrag this volume." and "0.00%"; otherwise a fragment list with rows
// and a percentage of exactly 0.00%, or no big-fragment file at all, reads as low; any
// other case shows the percentage. Any thread.
[[nodiscard]] FragmentationVerdict JudgeFragmentation(int defragAge, const VexaMapCell* cells,
                                                      bool fragmentListEmpty,
                                                      std::int32_t bigFragmentFiles);

}  // namespace vexa::report
