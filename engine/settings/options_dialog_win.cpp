// The Options dialog (class Filter): the window over OptionsSession (options_dialog.h).
#include <windows.h>

#include "resources/dialog_ids.h"
#include "settings/dialog_win.h"
#include "settings/dialogs.h"
#include "settings/options_dialog.h"

namespace vexa {
namespace {

class Filter {
 public:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<Filter*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
      switch (message) {
        case WM_INITDIALOG: return self->OnInit(dialog);
        case WM_COMMAND: return self->OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        case WM_CLOSE: self->Close(dialog); return TRUE;
        default: return FALSE;
      }
    } catch (...) {
      return FALSE;
    }
  }

  OptionsSession* session = nullptr;

 private:
  BOOL OnInit(HWND dialog) {
    const OptionsData data = session->Shown();
    SetDlgItemTextA(dialog, IDC_FOLDER_EDIT, data.texts.folder.c_str());
    SetDlgItemTextA(dialog, IDC_FILE_EDIT, data.texts.file.c_str());
    SetDlgItemTextA(dialog, IDC_TYPE_EDIT, data.texts.type.c_str());
    WriteFlags(dialog, data.flags);
    return TRUE;
  }

  static OptionsFlags ReadFlags(HWND dialog) {
    return {IsChecked(dialog, IDC_STARTUP_CHECK) ? 1 : 0, IsChecked(dialog, IDC_TURNOFF_CHECK) ? 1 : 0,
            IsChecked(dialog, IDC_RESTART_CHECK) ? 1 : 0};
  }

  static void WriteFlags(HWND dialog, const OptionsFlags& flags) {
    SetChecked(dialog, IDC_STARTUP_CHECK, flags.startup != 0);
    SetChecked(dialog, IDC_TURNOFF_CHECK, flags.turnOff != 0);
    SetChecked(dialog, IDC_RESTART_CHECK, flags.restart != 0);
  }

  BOOL OnCommand(HWND dialog, int id, int code) {
    if (code != BN_CLICKED) return FALSE;
    switch (id) {
      case IDC_TURNOFF_CHECK: WriteFlags(dialog, OptionsSession::TurnOffClicked(ReadFlags(dialog))); return TRUE;
      case IDC_RESTART_CHECK: WriteFlags(dialog, OptionsSession::RestartClicked(ReadFlags(dialog))); return TRUE;
      case IDOK: {
        OptionsData data;
        data.texts = {ControlText(dialog, IDC_FOLDER_EDIT), ControlText(dialog, IDC_FILE_EDIT),
                      ControlText(dialog, IDC_TYPE_EDIT)};
        data.flags = ReadFlags(dialog);
        session->Confirm(data);
        EndModalDialog(dialog, IDOK);
        return TRUE;
      }
      case IDCANCEL: Close(dialog); return TRUE;
      default: return FALSE;
    }
  }

  void Close(HWND dialog) {
    session->Cancel();
    EndModalDialog(dialog, IDCANCEL);
  }
};

}  // namespace

void ShowOptionsDialog() {
  const HWND owner = DialogOwner();
  OptionsSession session;
  Filter filter;
  filter.session = &session;
  if (RunModalDialog(IDD_FILTER, owner, &Filter::Procedure, reinterpret_cast<LPARAM>(&filter)) != IDOK) return;
  ApplyConfirmedOptions([owner](const char* text, const char* title) { MessageBoxA(owner, text, title, MB_OK); });
}

}  // namespace vexa
