// The real-time defragmenter's only window: hidden, it owns the notification-area icon,
// its menu and tip, the timer that feeds the rules (AutoDefrag) and the job thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "auto_defrag.h"
#include "job_thread.h"
#include "platform/idle.h"

namespace realtime {

struct TrayOptions {
  std::string engineFolder;                  // VEXAAUTO.exe's folder (vexa.dll beside it), ending with '\'
  std::unique_ptr<platform::IdleSource> idle;
  std::string tipFile;                       // test hook: every new tip is written here ("" none)
};

// Creates the hidden window and the icon and runs the message loop until "Exit" (or
// the session ends). Returns the process exit code. Main thread.
int RunTray(HINSTANCE instance, TrayOptions options);

}  // namespace realtime
