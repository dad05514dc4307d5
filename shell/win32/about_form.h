// TFrm_About: the About window, shown modally over the main window.
#pragma once

#include <windows.h>

namespace shell::win32 {

// Shows the About window centred on `owner` until BtnOK, a click or a double click on its
// picture closes it; pressing on the picture and moving drags the window. Main thread.
void RunAbout(HWND owner);

}  // namespace shell::win32
