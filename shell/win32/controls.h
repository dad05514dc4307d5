// The small control kinds of DefragShell's windows: pictures, image buttons and text
// buttons drawn over their parent's background, and the labels' font.
//
// Each kind is a window class of its own. A control keeps its state in a struct held in
// its window's user data; its parent learns of clicks through WM_COMMAND (the control
// id, BN_CLICKED) like a standard button. Main thread only.
#pragma once

#include <windows.h>

namespace shell::win32 {

// Registers the window classes (once per process).
void RegisterControlClasses(HINSTANCE instance);

// A picture control: paints `picture` stretched to its size. Clicks go to its parent as
// WM_COMMAND. `picture` is not owned.
HWND CreatePicture(HWND parent, int id, int x, int y, int width, int height, HBITMAP picture);

// An image button (mouse enter shows `highlighted`, leave shows `normal`; hand cursor).
HWND CreateImageButton(HWND parent, int id, int x, int y, int width, int height, HBITMAP normal,
                       HBITMAP highlighted);
// Replaces an image button's pictures; the one shown follows whether the mouse is over it.
void SetImageButtonPictures(HWND button, HBITMAP normal, HBITMAP highlighted);

// A text button: white text over the parent's background, underlined while the mouse is
// over it; hand cursor.
HWND CreateTextButton(HWND parent, int id, int x, int y, int width, int height, const char* text);

// The parent's background picture under a control, for controls drawn over it: a parent
// answers kGetBackground with its background bitmap (or 0 for plain white).
inline constexpr UINT kGetBackground = WM_APP + 200;

// Arial 8 pt (11 px high), plain or underlined; owned by the module.
HFONT LabelFont(bool underlined = false);

}  // namespace shell::win32
