// DefragShell's entry point: common controls, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include "win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  // The splash window and the update check of start-up come before this point.
  shell::win32::MainWindow* window = shell::win32::MainWindow::Create(instance);
  if (window == nullptr) return 1;
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return 0;
}
