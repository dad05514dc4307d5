// The volume selection dialog's windows: a check-box list of the fixed drives with one
// more check box in its column header that ticks or unticks every row, over the model
// of volume_selection.h.
#include "settings/volume_selection_win.h"

#include <commctrl.h>

#include <memory>
#include <vector>

#include "resources/dialog_ids.h"
#include "settings/dialog_texts.h"
#include "settings/volume_selection.h"

namespace vexa {
namespace {

constexpr char kSelfProperty[] = "VexaVolumeSelection";

struct ScheduleDlg {
  std::string* letters = nullptr;
  std::vector<VolumeRow> rows;
  std::unique_ptr<VolumeSelection> selection;
  HWND list = nullptr;
  HWND headerBox = nullptr;
  WNDPROC listProcedure = nullptr;
  WNDPROC boxProcedure = nullptr;

  std::vector<bool> Ticks() const {
    std::vector<bool> ticks;
    for (std::size_t i = 0; i < rows.size(); ++i) ticks.push_back(ListView_GetCheckState(list, static_cast<int>(i)) != 0);
    return ticks;
  }
  void ShowHeader() const {
    SendMessageA(headerBox, BM_SETCHECK, selection->HeaderTicked() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
};

ScheduleDlg* Self(HWND window) { return static_cast<ScheduleDlg*>(GetPropA(window, kSelfProperty)); }

// SelVolumeList: a double click on a row's check box is swallowed, so the box does
// not toggle twice.
LRESULT CALLBACK ListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  ScheduleDlg* self = Self(list);
  if (message == WM_LBUTTONDBLCLK) {
    LVHITTESTINFO hit{};
    hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (ListView_HitTest(list, &hit) >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0) return 0;
  }
  return CallWindowProcA(self->listProcedure, list, message, wParam, lParam);
}

// MyCheckBox: pressing it ticks or unticks every row; a double click is swallowed.
LRESULT CALLBACK BoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  ScheduleDlg* self = Self(box);
  if (message == WM_LBUTTONDBLCLK) return 0;
  if (message == WM_LBUTTONDOWN) {
    const bool tick = self->selection->BeginHeaderPress();
    for (std::size_t i = 0; i < self->rows.size(); ++i) ListView_SetCheckState(self->list, static_cast<int>(i), tick);
    self->selection->FinishHeaderPress();
    self->ShowHeader();
    return 0;  // the box shows the model's state; the release does not toggle it again
  }
  return CallWindowProcA(self->boxProcedure, box, message, wParam, lParam);
}

void CreateList(HWND dialog, ScheduleDlg* self) {
  if (self->list != nullptr) return;
  RECT client{};
  GetClientRect(dialog, &client);
  self->list = CreateWindowExA(0, WC_LISTVIEWA, "",
                               WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                   LVS_SHOWSELALWAYS,
                               10, 30, client.right - 10 - 10, client.bottom - 50 - 30, dialog,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_VOLUME_LIST)),
                               GetModuleHandleA(nullptr), nullptr);
  SendMessageA(self->list, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
  ListView_SetExtendedListViewStyle(self->list, LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.fmt = LVCFMT_LEFT;
  column.cx = 120;
  column.pszText = const_cast<char*>("   Volume");
  SendMessageA(self->list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  column.cx = 100;
  column.pszText = const_cast<char*>("Size");
  SendMessageA(self->list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));

  HWND header = ListView_GetHeader(self->list);
  RECT cell{};
  Header_GetItemRect(header, 0, &cell);
  self->headerBox = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, cell.left + 4,
                                    cell.top + 1, 15, cell.bottom - cell.top - 2, header,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_HEADER_CHECK)),
                                    GetModuleHandleA(nullptr), nullptr);

  for (std::size_t i = 0; i < self->rows.size(); ++i) {
    char letter[2] = {self->rows[i].letter, '\0'};
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = letter;
    SendMessageA(self->list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 1;
    item.pszText = const_cast<char*>(self->rows[i].size.c_str());
    SendMessageA(self->list, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
  }
  // The rows go in before the list is watched, so their first states are not counted.
  self->selection = std::make_unique<VolumeSelection>(self->rows.size());
  SetPropA(self->list, kSelfProperty, self);
  SetPropA(self->headerBox, kSelfProperty, self);
  self->listProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(self->list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProcedure)));
  self->boxProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(self->headerBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProcedure)));
}

void DestroyList(ScheduleDlg* self) {
  if (self->headerBox != nullptr) {
    SetWindowLongPtrA(self->headerBox, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->boxProcedure));
    RemovePropA(self->headerBox, kSelfProperty);
  }
  if (self->list != nullptr) {
    SetWindowLongPtrA(self->list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->listProcedure));
    RemovePropA(self->list, kSelfProperty);
  }
}

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetPropA(dialog, kSelfProperty, reinterpret_cast<HANDLE>(lParam));
  ScheduleDlg* self = Self(dialog);
  if (self == nullptr) return FALSE;
  try {
    switch (message) {
      case WM_INITDIALOG: CreateList(dialog, self); return TRUE;
      case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_VOLUME_LIST || header->code != LVN_ITEMCHANGED || self->selection == nullptr) {
          return FALSE;
        }
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) == 0) return FALSE;
        const bool was = ((change->uOldState & LVIS_STATEIMAGEMASK) >> 12) == 2;
        const bool is = ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
        if ((change->uOldState & LVIS_STATEIMAGEMASK) == 0) return FALSE;  // the row's first state
        self->selection->RowChanged(was, is);
        self->ShowHeader();
        return TRUE;
      }
      case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        if (LOWORD(wParam) == IDOK) {
          const std::optional<std::string> letters = VolumeSelection::Next(self->rows, self->Ticks());
          if (!letters) {
            MessageBoxA(dialog, kSelectVolume, nullptr, MB_OK);
            return TRUE;
          }
          *self->letters = *letters;
          EndDialog(dialog, IDOK);
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      case WM_DESTROY:
        DestroyList(self);
        RemovePropA(dialog, kSelfProperty);
        return FALSE;
      default: return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

}  // namespace

bool RunVolumeSelection(HWND owner, std::string* letters) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  ScheduleDlg dialog;
  dialog.letters = letters;
  dialog.rows = FixedVolumeRows();
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&RunVolumeSelection), &module);
  return DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_SCHEDULE), owner, &Procedure,
                         reinterpret_cast<LPARAM>(&dialog)) == IDOK;
}

}  // namespace vexa
