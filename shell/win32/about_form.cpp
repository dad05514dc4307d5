// TFrm_About: a borderless, rounded window with one picture and BtnOK.
#include "win32/about_form.h"

#include "win32/controls.h"
#include "win32/jpeg_picture.h"
#include "win32/layout.h"

namespace shell::win32 {
namespace {

constexpr char kAboutClass[] = "TFrm_About";
constexpr int kOkId = 100;

struct About {
  bool done = false;
};

// The picture, and the version over it (the build's version, so it never goes stale).
void PaintPicture(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window, &paint);
  DrawPicture(dc, "AboutBG", kAboutWidth, kAboutHeight);
  HFONT font = ::CreateFontA(-15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, "Arial");
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, kInk);
  const char version[] = "Version " VEXA_VERSION;
  ::TextOutA(dc, 30, 116, version, static_cast<int>(sizeof version - 1));
  ::SelectObject(dc, oldFont);
  ::DeleteObject(font);
  ::EndPaint(window, &paint);
}

// A press on the picture drags the window (the system's move loop returns when the
// button is released); a press that did not move it was a click, which closes it.
void PressOnPicture(HWND window, About* about) {
  RECT before;
  ::GetWindowRect(window, &before);
  ::ReleaseCapture();
  ::SendMessageA(window, WM_SYSCOMMAND, 0xF012, 0);
  RECT after;
  ::GetWindowRect(window, &after);
  if (after.left == before.left && after.top == before.top) about->done = true;
}

LRESULT CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* about = reinterpret_cast<About*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      ::SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
      break;
    case kGetBackground:
      return reinterpret_cast<LRESULT>(Picture("AboutBG"));
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintPicture(window);
      return 0;
    case WM_LBUTTONDOWN:
      PressOnPicture(window, about);
      return 0;
    case WM_LBUTTONDBLCLK:
      about->done = true;
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kOkId) about->done = true;
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE || wParam == VK_RETURN) about->done = true;
      return 0;
    case WM_CLOSE:
      about->done = true;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void RunAbout(HWND owner) {
  static bool registered = false;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!registered) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = AboutProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kAboutClass;
    registered = ::RegisterClassExA(&wc) != 0;
  }
  RECT ownerRect;
  ::GetWindowRect(owner, &ownerRect);
  const int x = ownerRect.left + (ownerRect.right - ownerRect.left - kAboutWidth) / 2;
  const int y = ownerRect.top + (ownerRect.bottom - ownerRect.top - kAboutHeight) / 2;
  About about;
  HWND window = ::CreateWindowExA(WS_EX_TOOLWINDOW, kAboutClass, "About Tolvane Disk Defrag", WS_POPUP, x, y,
                                  kAboutWidth, kAboutHeight, owner, nullptr, instance, &about);
  if (window == nullptr) return;
  ::SetWindowRgn(window, ::CreateRoundRectRgn(0, 0, kAboutWidth + 2, kAboutHeight + 2, 16, 16), FALSE);
  const ControlSpec& ok = kAboutControls[0];
  CreateImageButton(window, kOkId, ok.x, ok.y, ok.width, ok.height, Picture(ok.picture), Picture(ok.highlighted));
  ::EnableWindow(owner, FALSE);
  ::ShowWindow(window, SW_SHOW);
  ::SetForegroundWindow(window);
  MSG msg{};
  BOOL got = 1;
  while (!about.done && (got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  ::EnableWindow(owner, TRUE);
  ::DestroyWindow(window);
  ::SetForegroundWindow(owner);
  // A WM_QUIT this loop took belongs to the program's own loop: handed on, or the
  // program would keep running without a window after the session asked it to end.
  if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
}

}  // namespace shell::win32
