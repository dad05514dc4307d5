// The tray icon's pictures, drawn at start: a small cluster map of 4 x 4 blocks.
#pragma once

#include <windows.h>

namespace realtime {

// `busy`: the picture shown while a run goes (some blocks in the "moving" colour).
// The caller destroys the icon (DestroyIcon). Null when it cannot be made.
HICON MakeTrayIcon(bool busy);

}  // namespace realtime
