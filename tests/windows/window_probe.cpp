// Reads DefragShell's windows from outside, for the end-to-end test under wine: one line
// for the first window of a class (its rectangle, whether it is enabled, and its client
// area's origin on the screen), then one per child control with its id, class,
// visibility, rectangle relative to the window's client area, and text.
//
//   window_probe CLASS     e.g. window_probe TFrm_Main
// Exit 1 when no window of the class exists.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HWND gTop = nullptr;

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p != 0; ++p) {
    if (*p == '\r') {
      out += "\\r";
    } else if (*p == '\n') {
      out += "\\n";
    } else {
      out += *p;
    }
  }
  return out;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  char className[64] = {};
  char text[2048] = {};
  ::GetClassNameA(child, className, sizeof className);
  ::SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  RECT rect;
  ::GetWindowRect(child, &rect);
  POINT origin{rect.left, rect.top};
  ::ScreenToClient(gTop, &origin);
  std::printf("control %d %s %d %d %d %ld %ld %s\n", ::GetDlgCtrlID(child), className, ::IsWindowVisible(child) ? 1 : 0,
              static_cast<int>(origin.x), static_cast<int>(origin.y), rect.right - rect.left, rect.bottom - rect.top,
              Escaped(text).c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_probe CLASS\n");
    return 2;
  }
  gTop = ::FindWindowA(argv[1], nullptr);
  if (gTop == nullptr) return 1;
  RECT rect;
  ::GetWindowRect(gTop, &rect);
  POINT client{0, 0};  // the client area's origin on the screen (below a caption)
  ::ClientToScreen(gTop, &client);
  std::printf("window %s %ld %ld %ld %ld %d %ld %ld\n", argv[1], rect.left, rect.top, rect.right - rect.left,
              rect.bottom - rect.top, ::IsWindowEnabled(gTop) ? 1 : 0, client.x, client.y);
  ::EnumChildWindows(gTop, PrintChild, 0);
  return 0;
}
