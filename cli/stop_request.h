// Ctrl-C and SIGTERM during a job: each one asks the engine to stop; the job runner
// tells the user what happens.
#pragma once

#include "vexa/vexa.h"

namespace cli {

using WorkingStopFunction = void(VEXA_CALL*)();

// Installs the handlers for SIGINT and SIGTERM (SIGINT and SIGBREAK on Windows).
// From now on every such signal calls `workingStop` (null: only counted). Main thread.
void InstallStopHandlers(WorkingStopFunction workingStop);

// From now on stop signals are only counted: call before the engine library is
// unloaded, so that no signal calls into it afterwards. Any thread.
void ClearStopTarget();

// How many stop signals have arrived since the handlers were installed. Any thread.
int StopRequestCount();

}  // namespace cli
