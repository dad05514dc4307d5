// The engine's job exports as the job and polling threads call them.
#pragma once

#include "model/job_runner.h"

namespace shell::win32 {

// Calls the DLL_* exports of vexa.dll, bound through the import table. Any thread.
class EngineBinding final : public JobEngine {
 public:
  std::int32_t RunJob(JobKind kind, const char* letters) override;
  void Stop() override;
  const VexaWorkingStatus* Status() override;
  const std::int32_t* ColorTable(char letter) override;
  void ShowReport(std::int32_t kind) override;
  bool Logout() override;
  bool Restart() override;
  void SaveState() override;
};

}  // namespace shell::win32
