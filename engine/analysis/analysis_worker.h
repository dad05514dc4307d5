// The analysis worker: the first worker of every engine job.
//
// For each letter of the job it walks the volume's folders, reads every eligible
// file's extents, classifies the file, marks the cluster map, counts folders and
// files, lists fragmented files for the report and writes the volume's page; after
// the last letter it hands a defragmentation job over to the defragmentation worker,
// or ends the job.
#pragma once

#include "analysis/pass_variant.h"

namespace vexa {

// Thread entry of the analysis worker, started by a job export. Empties the analysis
// slot as its very last step.
void AnalysisWorkerMain();

}  // namespace vexa
