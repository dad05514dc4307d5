// What the engine's Win32 dialog views share: the library's module handle, a modal loop
// that keeps Enter and Escape from the dialog, and control text helpers.
#pragma once

#include <windows.h>

#include <string>

namespace vexa {

// The engine library's module, which holds the dialog templates.
HINSTANCE EngineInstance();

// The window a dialog of the engine is owned by: the calling thread's active window
// (DefragShell's main window), or none.
HWND DialogOwner();

// Shows the template `templateId` modally, owned by `owner`, with `procedure` and
// `parameter` as DialogBoxParamA would, but with a loop of its own in which key-down
// messages of Enter and Escape never reach the dialog. The procedure ends the dialog
// with EndModalDialog. Returns the result given there, or -1 when the dialog could not
// be made.
INT_PTR RunModalDialog(int templateId, HWND owner, DLGPROC procedure, LPARAM parameter);
void EndModalDialog(HWND dialog, INT_PTR result);

std::string ControlText(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);

}  // namespace vexa
