// VEXAAUTO.exe: the real-time defragmenter. It has no main window: an icon in the
// notification area, and quick defragmentations while the computer is idle.
//
// Test hooks (environment variables read at start; a test harness sets them, users
// never do):
//   VEXAAUTO_TEST_INPUT=PATH  idle time and power come from the file PATH instead of
//                             GetLastInputInfo and GetSystemPowerStatus, read on every
//                             tick ("input=SECONDS" since 1970 UTC, "power=ac|battery";
//                             see platform/idle.h), so a harness can say "idle for ten
//                             minutes" and "input now".
//   VEXAAUTO_TEST_TIP=PATH    every new tip text of the tray icon is also written to PATH.
#include <windows.h>

#include <cstdlib>

#include "platform/idle.h"
#include "platform/instance_guard.h"
#include "platform/library.h"
#include "tray_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  bool anotherHolds = false;
  const auto guard = platform::HoldUserInstance("Tolvane VEXAAUTO", &anotherHolds);
  if (guard == nullptr && anotherHolds) return 0;  // this user's copy already runs

  realtime::TrayOptions options;
  options.engineFolder = platform::ProgramFolder();
  const char* input = std::getenv("VEXAAUTO_TEST_INPUT");
  options.idle = input != nullptr && input[0] != '\0' ? platform::MakeFileIdleSource(input)
                                                      : platform::MakeSystemIdleSource();
  const char* tip = std::getenv("VEXAAUTO_TEST_TIP");
  if (tip != nullptr) options.tipFile = tip;
  return realtime::RunTray(instance, std::move(options));
}
