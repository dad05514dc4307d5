// The engine's job exports behind the job runner's interface.
#include "win32/engine_binding.h"

#include "vexa/vexa.h"

namespace shell::win32 {

std::int32_t EngineBinding::RunJob(JobKind kind, const char* letters) {
  const JobExport run = ExportFor(kind, {.analyse = DLL_AnalyseVolume,
                                         .quick = DLL_DefragVolume,
                                         .inDepth = DLL_OptimizedDefragVolume});
  return run != nullptr ? run(letters) : 0;
}

void EngineBinding::Stop() { DLL_WorkingStop(); }
const VexaWorkingStatus* EngineBinding::Status() { return DLL_GetWorkingStatus(); }
const std::int32_t* EngineBinding::ColorTable(char letter) { return DLL_GetVolumeColorTable(letter); }
void EngineBinding::ShowReport(std::int32_t kind) { DLL_ShowReport(kind); }
bool EngineBinding::Logout() { return (DLL_GetLogout() & 0xFF) != 0; }
bool EngineBinding::Restart() { return (DLL_GetRestart() & 0xFF) != 0; }
void EngineBinding::SaveState() { (void)VexaSaveState(); }

}  // namespace shell::win32
