// TFrm_Login: the splash window shown while DefragShell starts.
#pragma once

#include <windows.h>

namespace shell::win32 {

// Creates the splash centred on the screen and paints it at once. Null when it cannot be
// created (start-up goes on without it). Main thread.
HWND ShowSplash(HINSTANCE instance);

// Keeps the splash for `ms` more milliseconds, repainting it as needed, then destroys
// it. Null is ignored. Main thread.
void CloseSplashAfter(HWND splash, DWORD ms);

}  // namespace shell::win32
