// Pictures, image buttons and text buttons.
#include "win32/controls.h"

#include <string>

namespace shell::win32 {
namespace {

constexpr char kPictureClass[] = "TolvanePicture";
constexpr char kImageButtonClass[] = "TolvaneImageButton";
constexpr char kTextButtonClass[] = "TolvaneTextButton";

struct ControlState {
  HBITMAP normal = nullptr;
  HBITMAP highlighted = nullptr;
  bool hover = false;
  std::string text;
};

ControlState* State(HWND window) { return reinterpret_cast<ControlState*>(::GetWindowLongPtrA(window, GWLP_USERDATA)); }

void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, int width, int height) {
  if (bitmap == nullptr) return;
  BITMAP info{};
  ::GetObjectA(bitmap, sizeof info, &info);
  HDC source = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(source, bitmap);
  ::SetStretchBltMode(dc, COLORONCOLOR);
  ::StretchBlt(dc, x, y, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

// Paints the part of the parent's background that lies under `window`.
void DrawParentBackground(HWND window, HDC dc, const RECT& client) {
  HWND parent = ::GetParent(window);
  auto background = reinterpret_cast<HBITMAP>(::SendMessageA(parent, kGetBackground, 0, 0));
  if (background == nullptr) {
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    return;
  }
  POINT origin{0, 0};
  ::MapWindowPoints(window, parent, &origin, 1);
  HDC source = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(source, background);
  ::BitBlt(dc, 0, 0, client.right, client.bottom, source, origin.x, origin.y, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

void TrackLeave(HWND window) {
  TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
  ::TrackMouseEvent(&track);
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ControlState* state = State(window);
  char className[32] = {};
  ::GetClassNameA(window, className, sizeof className);
  const bool textButton = std::string(className) == kTextButtonClass;
  const bool picture = std::string(className) == kPictureClass;
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_NCDESTROY:
      delete state;
      ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT client;
      ::GetClientRect(window, &client);
      if (textButton) {
        DrawParentBackground(window, dc, client);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, RGB(255, 255, 255));
        HGDIOBJ old = ::SelectObject(dc, LabelFont(state->hover));
        ::DrawTextA(dc, state->text.c_str(), -1, &client, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        ::SelectObject(dc, old);
      } else {
        DrawBitmap(dc, state->hover && state->highlighted ? state->highlighted : state->normal, 0, 0, client.right,
                   client.bottom);
      }
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_SETCURSOR:
      if (!picture) {
        ::SetCursor(::LoadCursor(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (!picture && !state->hover) {
        state->hover = true;
        TrackLeave(window);
        ::InvalidateRect(window, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      state->hover = false;
      ::InvalidateRect(window, nullptr, FALSE);
      break;
    case WM_LBUTTONDOWN:
      // Presses on pictures and buttons reach the parent too (it hides the details label).
      ::SendMessageA(::GetParent(window), WM_PARENTNOTIFY, WM_LBUTTONDOWN, reinterpret_cast<LPARAM>(window));
      if (!picture) ::SetCapture(window);
      return 0;
    case WM_LBUTTONUP:
      if (!picture && ::GetCapture() == window) {
        ::ReleaseCapture();
        POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT client;
        ::GetClientRect(window, &client);
        if (!::PtInRect(&client, point)) return 0;
      }
      ::SendMessageA(::GetParent(window), WM_COMMAND,
                     MAKEWPARAM(::GetDlgCtrlID(window), BN_CLICKED), reinterpret_cast<LPARAM>(window));
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

HWND Create(const char* className, HWND parent, int id, int x, int y, int width, int height, ControlState* state) {
  return ::CreateWindowExA(0, className, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleA(nullptr), state);
}

}  // namespace

void RegisterControlClasses(HINSTANCE instance) {
  for (const char* name : {kPictureClass, kImageButtonClass, kTextButtonClass}) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ControlProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    ::RegisterClassExA(&wc);
  }
}

HWND CreatePicture(HWND parent, int id, int x, int y, int width, int height, HBITMAP picture) {
  auto* state = new ControlState;
  state->normal = picture;
  return Create(kPictureClass, parent, id, x, y, width, height, state);
}

HWND CreateImageButton(HWND parent, int id, int x, int y, int width, int height, HBITMAP normal,
                       HBITMAP highlighted) {
  auto* state = new ControlState;
  state->normal = normal;
  state->highlighted = highlighted;
  return Create(kImageButtonClass, parent, id, x, y, width, height, state);
}

void SetImageButtonPictures(HWND button, HBITMAP normal, HBITMAP highlighted) {
  ControlState* state = State(button);
  if (state == nullptr) return;
  state->normal = normal;
  state->highlighted = highlighted;
  ::InvalidateRect(button, nullptr, FALSE);
}

HWND CreateTextButton(HWND parent, int id, int x, int y, int width, int height, const char* text) {
  auto* state = new ControlState;
  state->text = text;
  return Create(kTextButtonClass, parent, id, x, y, width, height, state);
}

HFONT LabelFont(bool underlined) {
  static HFONT plain = ::CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
  static HFONT line = ::CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
  return underlined ? line : plain;
}

}  // namespace shell::win32
