// The advanced options dialog (class Advance): the window over advance_dialog.h and the
// Schedule buttons of schedule.h. Add schedule asks for the volumes first
// (volume_selection_win.cpp).
#include <windows.h>

#include <string>

#include "platform/scheduler.h"
#include "resources/dialog_ids.h"
#include "settings/advance_dialog.h"
#include "settings/dialog_win.h"
#include "settings/dialogs.h"
#include "settings/schedule.h"
#include "settings/volume_selection_win.h"

namespace vexa {
namespace {

class Advance {
 public:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<Advance*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    try {
      switch (message) {
        case WM_INITDIALOG: return self->OnInit(dialog);
        case WM_COMMAND: return self->OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        case WM_CLOSE: EndModalDialog(dialog, IDCANCEL); return TRUE;
        default: return FALSE;
      }
    } catch (...) {
      return FALSE;
    }
  }

  std::int32_t checkBox = 0;

 private:
  BOOL OnInit(HWND dialog) {
    SetChecked(dialog, IDC_REALTIME_STARTUP_CHECK, AdvanceCheckBox() != 0);
    SetDlgItemTextA(dialog, IDC_REALTIME_BUTTON, RealTimeShown());
    SetButtons(dialog, ScheduleButtonsFor(platform::CurrentScheduler().Check(kScheduleTaskName)));
    return TRUE;
  }

  void SetButtons(HWND dialog, const ScheduleButtons& buttons) {
    buttons_ = buttons;
    EnableWindow(GetDlgItem(dialog, IDC_ADD_SCHEDULE), buttons.add);
    EnableWindow(GetDlgItem(dialog, IDC_EDIT_SCHEDULE), buttons.edit);
    EnableWindow(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE), buttons.remove);
  }

  BOOL OnCommand(HWND dialog, int id, int code) {
    if (code != BN_CLICKED) return FALSE;
    const Notify notify = [dialog](const char* text, const char* title) { MessageBoxA(dialog, text, title, MB_OK); };
    switch (id) {
      case IDC_REALTIME_BUTTON: {
        HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
        const char* text = RealTimePressed(notify);
        SetCursor(previous);
        SetDlgItemTextA(dialog, IDC_REALTIME_BUTTON, text);
        return TRUE;
      }
      case IDC_ADD_SCHEDULE: {
        std::string letters;
        if (!RunVolumeSelection(dialog, &letters)) return TRUE;
        SetButtons(dialog, AddSchedule(letters, buttons_, true, notify));
        return TRUE;
      }
      case IDC_EDIT_SCHEDULE: SetButtons(dialog, EditSchedule(buttons_, notify)); return TRUE;
      case IDC_REMOVE_SCHEDULE: SetButtons(dialog, RemoveSchedule(buttons_, notify)); return TRUE;
      case IDOK:
        checkBox = IsChecked(dialog, IDC_REALTIME_STARTUP_CHECK) ? 1 : 0;
        EndModalDialog(dialog, IDOK);
        return TRUE;
      case IDCANCEL: EndModalDialog(dialog, IDCANCEL); return TRUE;
      default: return FALSE;
    }
  }

  ScheduleButtons buttons_;
};

}  // namespace

void ShowAdvanceDialog() {
  const HWND owner = DialogOwner();
  Advance advance;
  if (RunModalDialog(IDD_ADVANCE, owner, &Advance::Procedure, reinterpret_cast<LPARAM>(&advance)) != IDOK) return;
  ConfirmAdvance(advance.checkBox, [owner](const char* text, const char* title) { MessageBoxA(owner, text, title, MB_OK); });
}

}  // namespace vexa
