// The report of the running worker.
#include "report/job_report.h"

namespace vexa {

report::Report gReport;

}  // namespace vexa
