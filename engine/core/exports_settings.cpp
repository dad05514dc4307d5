// The DLL_* exports of the switches and the report launch, and the message-handler
// registration and the free-space minimum for front ends without windows.
//
// Each export catches everything: no exception crosses the library boundary.
#include "core/engine.h"
#include "core/free_space_rule.h"
#include "core/job_control.h"
#include "platform/message_box.h"
#include "report/report_launch.h"
#include "settings/switches.h"
#include "vexa/vexa.h"

using namespace vexa;

extern "C" {

void VEXA_CALL DLL_ShowReport(int32_t kind) {
  try {
    ShowReport(gWorkingFolder, kind);
  } catch (...) {
  }
}

int32_t VEXA_CALL DLL_GetAutoRun(void) { return GetSwitch(Switch::kStartup); }

int32_t VEXA_CALL DLL_GetLogout(void) { return GetSwitch(Switch::kTurnOff); }

int32_t VEXA_CALL DLL_GetRestart(void) { return GetSwitch(Switch::kRestart); }

void VEXA_CALL VexaSetMessageHandler(void (*handler)(const char* text)) {
  platform::SetMessageHandler(handler);
}

void VEXA_CALL VexaSetMappedMinimumFree(uint64_t bytes) { SetMappedMinimumFreeBytes(bytes); }

int32_t VEXA_CALL VexaSaveState(void) {
  try {
    if (gJob.analysisRunning.load() || gJob.defragRunning.load()) return 0;  // a job owns the maps
    return SaveState() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
