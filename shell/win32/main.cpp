// DefragShell's entry point: common controls, the main window, the message loop.
#include <windows.h>
#include <commctrl.h>

#include "win32/main_window.h"
#include "win32/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  if (!shell::win32::RunStartup(instance)) return 0;  // the updater takes over
  shell::win32::MainWindow* window = shell::win32::MainWindow::Create(instance);
  if (window == nullptr) return 1;
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return 0;
}
