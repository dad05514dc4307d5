// The report of the running worker: one engine-global Report, filled by the analysis
// and defragmentation workers (one worker at a time) and written as the job's pages.
#pragma once

#include "report/report.h"

namespace vexa {

// Owned by the running worker; no other thread touches it while a job runs.
extern report::Report gReport;

}  // namespace vexa
