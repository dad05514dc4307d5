// What the analysis and defragmentation workers share for each volume they visit: the
// work-context start values and the figures of the volume's report page.
#pragma once

#include <cstdint>

#include "core/volume_table.h"
#include "report/report.h"

namespace vexa {

// Sets the work context up for a pass over volume `v` in slot `slot`: walk slot,
// bytes per cluster, used clusters, cell geometry for `totalClusters`, processed
// clusters 1 and every folder, file and fragment counter 0.
void BeginVolumePass(const VolumeRecord& v, int slot, std::int64_t totalClusters);

// The figures of volume `v`'s report page as the pass left them; `letter` as it
// stands in the job's letters. The texts refer to `v`, which must outlive the result.
report::ReportVolumeFigures VolumeReportFigures(const VolumeRecord& v, char letter);

}  // namespace vexa
