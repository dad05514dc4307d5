// TFrm_Report: the defragmentation chooser (quick or in-depth).
#pragma once

#include <windows.h>

#include <functional>

#include "model/job_runner.h"

namespace shell::win32 {

// Shows the chooser modally, centred over `owner`. A choice calls `start` with the job
// kind before the chooser closes; its close button starts nothing. Main thread.
void RunChooser(HWND owner, const std::function<void(JobKind)>& start);

}  // namespace shell::win32
