// TFrm_Report: a borderless, rounded window with two big image buttons.
#include "win32/chooser.h"

#include "model/job_buttons.h"
#include "win32/controls.h"
#include "win32/jpeg_picture.h"
#include "win32/layout.h"

namespace shell::win32 {
namespace {

constexpr char kChooserClass[] = "TFrm_Report";
constexpr int kFirstId = 100;

struct Chooser {
  std::function<void(JobKind)> start;
  bool done = false;
};

LRESULT CALLBACK ChooserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* chooser = reinterpret_cast<Chooser*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      ::SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
      break;
    case kGetBackground:
      return reinterpret_cast<LRESULT>(Picture("ChooserBG"));
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      DrawPicture(dc, "ChooserBG", kChooserWidth, kChooserHeight);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_LBUTTONDOWN:
      // Dragging by the background.
      ::ReleaseCapture();
      ::SendMessageA(window, WM_SYSCOMMAND, 0xF012, 0);
      return 0;
    case WM_COMMAND: {
      const int index = LOWORD(wParam) - kFirstId;
      if (index < 0 || index >= static_cast<int>(std::size(kChooserControls))) break;
      if (const auto kind = ChooserKind(kChooserControls[index].name)) chooser->start(*kind);
      chooser->done = true;
      return 0;
    }
    case WM_CLOSE:
      chooser->done = true;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void RunChooser(HWND owner, const std::function<void(JobKind)>& start) {
  static bool registered = false;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!registered) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ChooserProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kChooserClass;
    registered = ::RegisterClassExA(&wc) != 0;
  }
  RECT ownerRect;
  ::GetWindowRect(owner, &ownerRect);
  const int x = ownerRect.left + (ownerRect.right - ownerRect.left - kChooserWidth) / 2;
  const int y = ownerRect.top + (ownerRect.bottom - ownerRect.top - kChooserHeight) / 2;
  Chooser chooser{start};
  HWND window = ::CreateWindowExA(WS_EX_TOOLWINDOW, kChooserClass, "Tolvane Disk Defrag", WS_POPUP, x, y,
                                  kChooserWidth, kChooserHeight, owner, nullptr, instance, &chooser);
  if (window == nullptr) return;
  ::SetWindowRgn(window, ::CreateRoundRectRgn(0, 0, kChooserWidth + 2, kChooserHeight + 2, 16, 16), FALSE);
  for (std::size_t i = 0; i < std::size(kChooserControls); ++i) {
    const ControlSpec& c = kChooserControls[i];
    CreateImageButton(window, kFirstId + static_cast<int>(i), c.x, c.y, c.width, c.height, Picture(c.picture),
                      Picture(c.highlighted));
  }
  ::EnableWindow(owner, FALSE);
  ::ShowWindow(window, SW_SHOW);
  MSG msg{};
  BOOL got = 1;
  while (!chooser.done && (got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
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
