// TFrm_Login: a borderless, rounded window filled by one picture, with no input.
#include "win32/login_form.h"

#include "win32/jpeg_picture.h"
#include "win32/layout.h"

namespace shell::win32 {
namespace {

constexpr char kLoginClass[] = "TFrm_Login";

LRESULT CALLBACK LoginProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      DrawPicture(dc, "LoginBG", kLoginWidth, kLoginHeight);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_NCHITTEST:
      return HTNOWHERE;  // no input
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND ShowSplash(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = LoginProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursor(nullptr, IDC_APPSTARTING);
  wc.lpszClassName = kLoginClass;
  ::RegisterClassExA(&wc);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - kLoginWidth) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - kLoginHeight) / 2;
  HWND splash = ::CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kLoginClass, "Tolvane Disk Defrag", WS_POPUP, x,
                                  y, kLoginWidth, kLoginHeight, nullptr, nullptr, instance, nullptr);
  if (splash == nullptr) return nullptr;
  ::SetWindowRgn(splash, ::CreateRoundRectRgn(0, 0, kLoginWidth + 1, kLoginHeight + 1, 16, 16), FALSE);
  ::ShowWindow(splash, SW_SHOW);
  ::UpdateWindow(splash);
  return splash;
}

void CloseSplashAfter(HWND splash, DWORD ms) {
  if (splash == nullptr) return;
  const DWORD start = ::GetTickCount();
  for (DWORD elapsed = 0; elapsed < ms; elapsed = ::GetTickCount() - start) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  ::DestroyWindow(splash);
}

}  // namespace shell::win32
