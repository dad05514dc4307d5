// TFrm_Main: creation, the volume list, the big buttons, jobs, notifications, dragging
// and closing.
#include "win32/main_window.h"

#include <shellapi.h>

#include <algorithm>

#include "model/status_texts.h"
#include "model/volume_list.h"
#include "platform/drives.h"
#include "platform/power.h"
#include "platform/security.h"
#include "platform/shell.h"
#include "vexa/vexa.h"
#include "win32/about_form.h"
#include "win32/chooser.h"
#include "win32/controls.h"
#include "win32/jpeg_picture.h"
#include "win32/layout.h"
#include "win32/startup.h"

namespace shell::win32 {
namespace {

static_assert(kHitOnIcon == LVHT_ONITEMICON && kHitOnLabel == LVHT_ONITEMLABEL &&
              kHitOnStateIcon == LVHT_ONITEMSTATEICON && kHitOnItem == LVHT_ONITEM);

constexpr char kMainClass[] = "TFrm_Main";
constexpr char kPanelClass[] = "TolvanePanel";
constexpr char kMapClass[] = "TolvaneMapPanel";
constexpr char kTitle[] = "Tolvane Disk Defrag";
constexpr int kFirstId = 100;

char DecimalSeparator() {
  char text[8] = {};
  return ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 0 && text[0] != 0 ? text[0] : '.';
}

// A 16 x 16 check box picture: empty (state 1) or ticked in #004080 (state 2).
HBITMAP CheckBoxPicture(HDC screen, bool ticked) {
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 16, 16);
  HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
  RECT all{0, 0, 16, 16};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  HPEN frame = ::CreatePen(PS_SOLID, 1, RGB(0x7D, 0x8D, 0xA3));
  HGDIOBJ oldPen = ::SelectObject(dc, frame);
  HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(WHITE_BRUSH));
  ::Rectangle(dc, 2, 2, 15, 15);
  if (ticked) {
    HPEN tick = ::CreatePen(PS_SOLID, 2, RGB(0x00, 0x40, 0x80));
    ::SelectObject(dc, tick);
    const POINT points[] = {{4, 8}, {7, 11}, {12, 5}};
    ::Polyline(dc, points, 3);
    ::SelectObject(dc, frame);
    ::DeleteObject(tick);
  }
  ::SelectObject(dc, oldBrush);
  ::SelectObject(dc, oldPen);
  ::DeleteObject(frame);
  ::SelectObject(dc, oldBitmap);
  ::DeleteDC(dc);
  return bitmap;
}

void RegisterClass(HINSTANCE instance, const char* name, WNDPROC proc, HBRUSH background) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  wc.hIcon = ::LoadIconA(instance, "MAINICON");
  ::RegisterClassExA(&wc);
}

}  // namespace

MainWindow* MainWindow::Create(HINSTANCE instance) {
  RegisterControlClasses(instance);
  RegisterClass(instance, kMainClass, Proc, nullptr);
  RegisterClass(instance, kPanelClass, PanelProc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RegisterClass(instance, kMapClass, MapProc, nullptr);

  auto* self = new MainWindow;
  gMain = self;
  self->programFolder_ = ProgramFolder();
  self->runner_ = std::make_unique<JobRunner>(
      self->engine_,
      JobHooks{[](Notice notice, int job) {
                 ::SendMessageA(gMain->window_, kNoticeBase + static_cast<UINT>(notice), static_cast<WPARAM>(job), 0);
               },
               platform::RequestPower});
  self->buttons_ = std::make_unique<JobButtons>(*self->runner_);
  self->window_ = ::CreateWindowExA(0, kMainClass, kTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN,
                                    kMainLeft, kMainTop, kMainWidth, kMainHeight, nullptr, nullptr, instance, nullptr);
  if (self->window_ == nullptr) return nullptr;
  // Creation: rounded region, volume list, cleared map, hidden progress bar.
  ::SetWindowRgn(self->window_, ::CreateRoundRectRgn(0, 0, kMainWidth + 1, kMainHeight + 1, 16, 16), FALSE);
  self->CreateControls();
  self->FillVolumeList();
  self->ResetMap();
  self->ShowProgress(false);
  ::ShowWindow(self->window_, SW_SHOW);
  ::UpdateWindow(self->window_);
  self->OnShown();
  return self;
}

void MainWindow::CreateControls() {
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  for (std::size_t i = 0; i < std::size(kMainControls); ++i) {
    const ControlSpec& c = kMainControls[i];
    const int id = kFirstId + static_cast<int>(i);
    HWND parent = c.parent == nullptr ? window_ : controls_.at(c.parent);
    HWND control = nullptr;
    switch (c.kind) {
      case Kind::kImageButton:
        control = CreateImageButton(parent, id, c.x, c.y, c.width, c.height, Picture(c.picture), Picture(c.highlighted));
        break;
      case Kind::kPicture:
        control = CreatePicture(parent, id, c.x, c.y, c.width, c.height, Picture(c.picture));
        break;
      case Kind::kTextButton:
        control = CreateTextButton(parent, id, c.x, c.y, c.width, c.height, c.picture);
        break;
      case Kind::kLabel:
        control = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_NOTIFY, c.x, c.y,
                                    c.width, c.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                    instance, nullptr);
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(LabelFont()), FALSE);
        break;
      case Kind::kPanel:
        control = ::CreateWindowExA(0, kPanelClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, c.x, c.y, c.width,
                                    c.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        break;
      case Kind::kMap:
        control = ::CreateWindowExA(0, kMapClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, c.x, c.y, c.width,
                                    c.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        map_ = control;
        CreateMapCanvas();
        break;
      case Kind::kListView:
        control = ::CreateWindowExA(0, WC_LISTVIEWA, "",
                                    WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                        LVS_NOSORTHEADER,
                                    c.x, c.y, c.width, c.height, parent,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        list_ = control;
        break;
      case Kind::kTreeView:
        control = ::CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | TVS_SHOWSELALWAYS, c.x, c.y, c.width,
                                    c.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                    nullptr);
        tree_ = control;
        break;
    }
    controls_[c.name] = control;
    ids_[id] = c.name;
  }
  ::ShowWindow(controls_.at("ReportBtn"), SW_HIDE);
  ::ShowWindow(controls_.at("Label1"), SW_HIDE);
  ::SendMessageA(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(LabelFont()), FALSE);

  // The volume list: grid lines, drive icon, check-box state pictures, four columns.
  ::SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  ::SendMessageA(list_, WM_SETFONT, reinterpret_cast<WPARAM>(LabelFont()), FALSE);
  HIMAGELIST icons = ImageList_Create(20, 20, ILC_COLOR32, 1, 0);
  ImageList_Add(icons, Picture("DriveIcon"), nullptr);
  ::SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons));
  HIMAGELIST states = ImageList_Create(16, 16, ILC_COLOR32, 2, 0);
  HDC screen = ::GetDC(nullptr);
  for (bool ticked : {false, true}) {
    HBITMAP box = CheckBoxPicture(screen, ticked);
    ImageList_Add(states, box, nullptr);
    ::DeleteObject(box);
  }
  ::ReleaseDC(nullptr, screen);
  ::SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(states));
  const struct {
    const char* caption;
    int width;
  } columns[] = {{"Drive", 0}, {"Size", kSizeColumn}, {"Free Space", kFreeColumn}, {"Type", kTypeColumn}};
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(columns[i].caption);
    column.cx = columns[i].width;
    column.iSubItem = i;
    ::SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
}

void MainWindow::FillVolumeList() {
  auto drives = platform::CreateSystemDrives(programFolder_ + "vexa\\");
  const char separator = DecimalSeparator();
  int row = 0;
  for (const platform::DriveFacts& drive : platform::ListDrives(*drives)) {
    if (!ListsDrive(drive.letter, drive.type)) continue;
    const std::string caption = VolumeCaption(drive.label, drive.letter);
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char*>(caption.c_str());
    item.iImage = 0;
    item.state = INDEXTOSTATEIMAGEMASK(1);
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.lParam = static_cast<unsigned char>(drive.letter);  // the row's letter, never parsed from the caption
    ::SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    const std::string texts[] = {GbText(drive.totalBytes, separator), GbText(drive.freeBytes, separator),
                                 drive.fileSystem};
    for (int sub = 1; sub <= 3; ++sub) {
      LVITEMA subItem{};
      subItem.iSubItem = sub;
      subItem.pszText = const_cast<char*>(texts[sub - 1].c_str());
      ::SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&subItem));
    }
    ++row;
  }
}

void MainWindow::OnShown() {
  RECT list;
  ::GetClientRect(list_, &list);
  const int drive = 615 - kSizeColumn - kFreeColumn - kTypeColumn - 20;
  ::SendMessageA(list_, LVM_SETCOLUMNWIDTH, 0, drive);
  ::PostMessageA(window_, kCheckAdministrator, 0, 0);
}

std::string MainWindow::DriveLetterString() const {
  std::vector<VolumeRow> rows;
  const int count = static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    LVITEMA item{};
    item.mask = LVIF_PARAM | LVIF_STATE;
    item.iItem = i;
    item.stateMask = LVIS_STATEIMAGEMASK;
    ::SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    rows.push_back({static_cast<char>(item.lParam), ((item.state & LVIS_STATEIMAGEMASK) >> 12) == 2});
  }
  return shell::DriveLetterString(rows);
}

void MainWindow::Message(const char* text) const { ::MessageBoxA(window_, text, kTitle, MB_OK); }

void MainWindow::PaintButtons() {
  const ButtonLook analyze = buttons_->AnalyzeLook();
  const ButtonLook defrag = buttons_->DefragLook();
  SetImageButtonPictures(controls_.at("BtnAnalyze"), Picture(analyze.normal), Picture(analyze.highlighted));
  SetImageButtonPictures(controls_.at("BtnDeframent"), Picture(defrag.normal), Picture(defrag.highlighted));
}

// Paints what the job state decided, in the order ButtonStep names.
void MainWindow::Apply(const ButtonStep& step) {
  if (step.clearFiles) {
    ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    files_.clear();
  }
  PaintButtons();
  if (step.progress != Progress::kKeep) ShowProgress(step.progress == Progress::kShow);
  if (const char* stopping = buttons_->StoppingText()) SetStatusLabels(stopping, "", "");
  if (step.message != nullptr) Message(step.message);
  if (step.openChooser) {
    RunChooser(window_, [this](JobKind kind) { Apply(buttons_->StartDefragmentation(kind, DriveLetterString())); });
  }
  if (step.close) ::DestroyWindow(window_);
}

void MainWindow::ShowProgress(bool show) {
  ::ShowWindow(controls_.at("ImageBG"), show ? SW_SHOW : SW_HIDE);
  ::ShowWindow(controls_.at("ImageZJ"), show ? SW_SHOW : SW_HIDE);
  if (show) {
    SetProgressWidth(0);
  } else {
    SetStatusLabels("", "", "");
  }
}

void MainWindow::SetStatusLabels(const std::string& state, const std::string& cluster, const std::string& file) {
  ::SetWindowTextA(controls_.at("LogLabel"), state.c_str());
  ::SetWindowTextA(controls_.at("clusterLabel"), cluster.c_str());
  ::SetWindowTextA(controls_.at("PathLabel"), file.c_str());
}

void MainWindow::SetProgressWidth(int width) {
  ::SetWindowPos(controls_.at("ImageZJ"), HWND_TOP, 1, 314, std::clamp(width, 0, kProgressFull), 22,
                 SWP_NOACTIVATE | SWP_NOMOVE);
  ::UpdateWindow(controls_.at("ImageZJ"));
}

void MainWindow::OnNotice(int code, int job) {
  switch (static_cast<Notice>(code)) {
    case Notice::kStatus: {
      const StatusLine line = buttons_->Status(runner_->Snapshot());
      SetStatusLabels(line.state, line.cluster, line.file);
      SetProgressWidth(line.progressLength);
      break;
    }
    case Notice::kMap:
      RepaintMap();
      break;
    case Notice::kAnalysisFinished:
    case Notice::kDefragFinished:
      Apply(buttons_->Finished(static_cast<Notice>(code), job));
      break;
  }
}

void MainWindow::OnCommand(const std::string& name) {
  if (name == "BtnAnalyze") {
    Apply(buttons_->AnalyzeClicked(DriveLetterString()));
  } else if (name == "BtnDeframent") {
    Apply(buttons_->DefragmentClicked(DriveLetterString()));
  } else if (name == "CloseBtn") {
    Apply(buttons_->CloseClicked());
  } else if (name == "MinBtn") {
    ::ShowWindow(window_, SW_MINIMIZE);
  } else if (name == "Label1") {
    HideDetails();
  } else if (name == "SettingBtn") {
    // The engine's modal dialogs run on this thread; a job, if one runs, goes on.
    DLL_Options();
  } else if (name == "BtnAdvanced") {
    (void)DLL_Advance();
  } else if (name == "HelpBtn") {
    OpenHelp();
  } else if (name == "AboutBtn") {
    RunAbout(window_);
  }
  // ReportBtn stays hidden.
}

// The help file beside the program, else its HTML pages (a build without a help
// compiler), else the web help.
void MainWindow::OpenHelp() const {
  for (const char* name : {"Tolvane Disk Defrag.chm", "help\\index.html"}) {
    const std::string helpFile = ProgramFolder() + name;
    if (::GetFileAttributesA(helpFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
      ::ShellExecuteA(window_, "open", helpFile.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      return;
    }
  }
  platform::OpenDocument(WebHelpAddress().c_str());
}

void MainWindow::OnListClick(const NMITEMACTIVATE& click) {
  HideDetails();
  LVHITTESTINFO hit{};
  hit.pt = click.ptAction;
  int row = static_cast<int>(::SendMessageA(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (row < 0 || !HitsTickBox(hit.flags)) {
    // Some list views report the click point late or not at all: ask again with the
    // position the mouse had when the click message was posted.
    const DWORD position = ::GetMessagePos();
    hit = LVHITTESTINFO{};
    hit.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ::ScreenToClient(list_, &hit.pt);
    row = static_cast<int>(::SendMessageA(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  }
  if (row >= 0 && HitsTickBox(hit.flags)) {
    // Ticking is allowed during a job; it only affects the next one.
    LVITEMA item{};
    item.mask = LVIF_STATE;
    item.iItem = row;
    item.stateMask = LVIS_STATEIMAGEMASK;
    ::SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    const bool ticked = ((item.state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    item.state = INDEXTOSTATEIMAGEMASK(ticked ? 1 : 2);
    ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return;
  }
  OnRowClick();
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window_, &paint);
      HDC source = ::CreateCompatibleDC(dc);
      HGDIOBJ old = ::SelectObject(source, Picture("img6"));
      ::BitBlt(dc, 0, 0, kMainWidth, kMainHeight, source, 0, 0, SRCCOPY);
      ::SelectObject(source, old);
      ::DeleteDC(source);
      ::EndPaint(window_, &paint);
      return 0;
    }
    case kGetBackground:
      return reinterpret_cast<LRESULT>(Picture("img6"));
    case WM_COMMAND: {
      const auto it = ids_.find(LOWORD(wParam));
      if (it != ids_.end()) OnCommand(it->second);
      return 0;
    }
    case WM_PARENTNOTIFY:
      // A press on an image button or picture of the window hides the details label.
      if (LOWORD(wParam) == WM_LBUTTONDOWN) HideDetails();
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == list_ && header->code == NM_CLICK) {
        OnListClick(*reinterpret_cast<const NMITEMACTIVATE*>(lParam));
      } else if (header->hwndFrom == tree_ && header->code == NM_CLICK) {
        OnTreeClick();
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      HideDetails();
      dragPoint_ = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      dragging_ = true;
      ::SetCapture(window_);
      return 0;
    case WM_MOUSEMOVE:
      if (dragging_) {
        RECT rect;
        ::GetWindowRect(window_, &rect);
        const int x = static_cast<short>(LOWORD(lParam));
        const int y = static_cast<short>(HIWORD(lParam));
        ::SetWindowPos(window_, nullptr, rect.left + x - dragPoint_.x, rect.top + y - dragPoint_.y, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      dragging_ = false;
      ::ReleaseCapture();
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, kInk);
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    }
    case kCheckAdministrator:
      Apply(WindowShown(platform::IsAdministrator()));
      return 0;
    case WM_CLOSE:
      // Alt+F4, the system menu and WM_CLOSE are refused during a job like CloseBtn.
      Apply(buttons_->CloseClicked());
      return 0;
    case WM_ENDSESSION:
      // The session ends (after the turn-off or restart request): leave through the
      // normal exit so the engine unloads and saves its map and switches first.
      if (wParam) ::ExitProcess(0);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      if (message >= kNoticeBase + 84 && message <= kNoticeBase + 87) {
        OnNotice(static_cast<int>(message - kNoticeBase), static_cast<int>(wParam));
        return 0;
      }
      break;
  }
  return ::DefWindowProcA(window_, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (gMain == nullptr || (gMain->window_ != nullptr && gMain->window_ != window)) {
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  if (gMain->window_ == nullptr) gMain->window_ = window;
  try {
    return gMain->Handle(message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

LRESULT CALLBACK MainWindow::PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
      return ::SendMessageA(gMain->window_, message, wParam, lParam);
    case WM_LBUTTONDOWN:
      gMain->HideDetails();
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      ::SetTextColor(dc, kInk);
      ::SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
    }
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace shell::win32
