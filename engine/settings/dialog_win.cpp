// The shared parts of the engine's dialog views.
#include "settings/dialog_win.h"

#include "settings/dialogs.h"

namespace vexa {
namespace {

// Set on the dialog window while its modal loop runs.
constexpr char kEndedProperty[] = "VexaModalEnded";
constexpr char kResultProperty[] = "VexaModalResult";

}  // namespace

HINSTANCE EngineInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ShowOptionsDialog), &module);
  return module;
}

HWND DialogOwner() { return GetActiveWindow(); }

INT_PTR RunModalDialog(int templateId, HWND owner, DLGPROC procedure, LPARAM parameter) {
  HWND dialog = CreateDialogParamA(EngineInstance(), MAKEINTRESOURCEA(templateId), owner, procedure, parameter);
  if (dialog == nullptr) return -1;
  const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
  if (ownerWasEnabled) EnableWindow(owner, FALSE);
  ShowWindow(dialog, SW_SHOW);
  MSG message;
  bool quit = false;
  while (GetPropA(dialog, kEndedProperty) == nullptr) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      quit = true;  // handed on after the dialog is gone
      break;
    }
    if (got < 0) break;
    const bool toDialog = message.hwnd == dialog || IsChild(dialog, message.hwnd);
    if (toDialog && message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
      continue;
    }
    if (!IsDialogMessageA(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  const INT_PTR result = GetPropA(dialog, kEndedProperty) != nullptr
                             ? reinterpret_cast<INT_PTR>(GetPropA(dialog, kResultProperty))
                             : IDCANCEL;
  if (ownerWasEnabled) EnableWindow(owner, TRUE);
  RemovePropA(dialog, kEndedProperty);
  RemovePropA(dialog, kResultProperty);
  DestroyWindow(dialog);
  if (owner != nullptr) SetActiveWindow(owner);
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));
  return result;
}

void EndModalDialog(HWND dialog, INT_PTR result) {
  SetPropA(dialog, kResultProperty, reinterpret_cast<HANDLE>(result));
  SetPropA(dialog, kEndedProperty, reinterpret_cast<HANDLE>(1));
  PostMessageA(dialog, WM_NULL, 0, 0);  // wakes the loop
}

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthA(control);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

bool IsChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void SetChecked(HWND dialog, int id, bool checked) { CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED); }

}  // namespace vexa
