// The hidden window: tray icon, menu, timer and the hand-over between the job thread
// and the rules. Every handler runs on the main thread.
#include "tray_window.h"

#include <shellapi.h>

#include <ctime>
#include <deque>

#include "defrag_dates.h"
#include "tray_icon_picture.h"

namespace realtime {
namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kTrayId = 1;
constexpr UINT_PTR kTickTimer = 1;

enum MenuId : UINT { kMenuOpen = 100, kMenuPause = 101, kMenuExit = 102 };

constexpr char kWindowClass[] = "VexaAutoTrayWindow";
constexpr char kTitle[] = "Tolvane Disk Defrag";

struct Tray {
  TrayOptions options;
  HWND window = nullptr;
  std::unique_ptr<AutoDefrag> rules;
  std::unique_ptr<JobThread> job;
  UINT taskbarCreated = 0;
  HICON idleIcon = nullptr;
  HICON busyIcon = nullptr;
  bool iconAdded = false;
  bool busyShown = false;
  std::string tip;
  int timerMs = 0;
  bool exiting = false;
};

Tray* gTray = nullptr;  // the one tray of the process, for the window procedure

Observation Observe(Tray& tray) {
  Observation now;
  now.nowMs = static_cast<std::int64_t>(::GetTickCount64());
  now.wallTime = std::time(nullptr);
  platform::IdleReading reading;
  now.idleKnown = tray.options.idle->Read(&reading);
  now.idleMs = reading.idleMilliseconds;
  now.onAcPower = reading.onAcPower;
  return now;
}

void WriteTipFile(const std::string& path, const std::string& tip) {
  // Written beside and renamed over, so a reader never sees half a text.
  const std::string partial = path + ".new";
  HANDLE file = ::CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, tip.data(), static_cast<DWORD>(tip.size()), &written, nullptr);
  ::CloseHandle(file);
  if (ok) ::MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void ShowIcon(Tray& tray, bool add) {
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof(data);
  data.hWnd = tray.window;
  data.uID = kTrayId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = tray.busyShown ? tray.busyIcon : tray.idleIcon;
  lstrcpynA(data.szTip, tray.tip.c_str(), sizeof(data.szTip));
  if (add) {
    tray.iconAdded = ::Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
  } else if (tray.iconAdded) {
    ::Shell_NotifyIconA(NIM_MODIFY, &data);
  }
}

void RemoveIcon(Tray& tray) {
  if (!tray.iconAdded) return;
  NOTIFYICONDATAA data = {};
  data.cbSize = sizeof(data);
  data.hWnd = tray.window;
  data.uID = kTrayId;
  ::Shell_NotifyIconA(NIM_DELETE, &data);
  tray.iconAdded = false;
}

// Brings the icon's tip and picture in line with the rules.
void Refresh(Tray& tray) {
  const std::string tip = tray.rules->TipText();
  const bool busy = tray.rules->Running();
  if (tip == tray.tip && busy == tray.busyShown) return;
  const bool tipChanged = tip != tray.tip;
  tray.tip = tip;
  tray.busyShown = busy;
  ShowIcon(tray, false);
  if (tipChanged && !tray.options.tipFile.empty()) WriteTipFile(tray.options.tipFile, tip);
}

void SetTick(Tray& tray) {
  const int period = tray.rules->TickIntervalMs();
  if (period == tray.timerMs) return;
  tray.timerMs = period;
  ::SetTimer(tray.window, kTickTimer, static_cast<UINT>(period), nullptr);
}

void Carry(Tray& tray, Command command) {
  if (command == Command::StartRun) {
    if (!tray.job->Start()) tray.rules->RunEnded(Observe(tray), "", "cannot start the job thread");
  } else if (command == Command::StopRun) {
    tray.job->Stop();
  }
}

void OnTick(Tray& tray) {
  VexaWorkingStatus status;
  if (tray.rules->Running() && tray.job->Poll(&status)) tray.rules->Progress(status);
  Carry(tray, tray.rules->Tick(Observe(tray)));
  SetTick(tray);
  Refresh(tray);
}

void OnJobEvents(Tray& tray) {
  std::deque<JobEvent> events;
  tray.job->TakeEvents(&events);
  for (const JobEvent& event : events) {
    switch (event.kind) {
      case JobEvent::VolumeStarted: tray.rules->VolumeStarted(event.letter); break;
      case JobEvent::VolumeFinished: tray.rules->VolumeFinished(event.result); break;
      case JobEvent::RunEnded:
        tray.rules->RunEnded(Observe(tray), event.fixedVolumes, event.failure);
        if (tray.exiting) {
          ::DestroyWindow(tray.window);
          return;
        }
        break;
    }
  }
  SetTick(tray);
  Refresh(tray);
}

void OpenDefragShell(Tray& tray) {
  // The program folder is the parent of the vexa folder that holds this program.
  std::string folder = tray.options.engineFolder;
  if (!folder.empty()) folder.pop_back();
  const auto cut = folder.find_last_of('\\');
  folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
  const std::string program = folder + "DefragShell.exe";
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteA(nullptr, "open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
  if (result <= 32) {
    const std::string text = "Cannot start " + program + ".";
    ::MessageBoxA(tray.window, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
  }
}

void Exit(Tray& tray) {
  if (tray.job->Alive()) {
    // The engine finishes the cluster move it is in; the window goes when the run ends.
    tray.exiting = true;
    tray.job->Stop();
    return;
  }
  ::DestroyWindow(tray.window);
}

void ShowMenu(Tray& tray) {
  HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  ::AppendMenuA(menu, MF_STRING, kMenuOpen, "Open Tolvane Disk Defrag");
  ::AppendMenuA(menu, MF_STRING | (tray.rules->Paused() ? MF_CHECKED : 0), kMenuPause, "Pause for one hour");
  ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuA(menu, MF_STRING, kMenuExit, "Exit");
  ::SetMenuDefaultItem(menu, kMenuOpen, FALSE);
  POINT at;
  ::GetCursorPos(&at);
  // The window must be in the foreground for the menu to close when the user clicks
  // elsewhere; the empty message afterwards lets it close cleanly.
  ::SetForegroundWindow(tray.window);
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, tray.window, nullptr);
  ::PostMessageA(tray.window, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
}

void OnCommand(Tray& tray, UINT id) {
  switch (id) {
    case kMenuOpen: OpenDefragShell(tray); break;
    case kMenuPause:
      Carry(tray, tray.rules->Pause(Observe(tray)));
      SetTick(tray);
      Refresh(tray);
      break;
    case kMenuExit: Exit(tray); break;
    default: break;
  }
}

void OnTrayMessage(Tray& tray, LPARAM mouse) {
  switch (LOWORD(mouse)) {
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: ShowMenu(tray); break;
    case WM_LBUTTONDBLCLK: OpenDefragShell(tray); break;
    default: break;
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Tray* tray = gTray;
  if (tray == nullptr || tray->window != window) return ::DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      if (wParam == kTickTimer) OnTick(*tray);
      return 0;
    case kJobEventMessage: OnJobEvents(*tray); return 0;
    case kTrayMessage: OnTrayMessage(*tray, lParam); return 0;
    case WM_COMMAND: OnCommand(*tray, LOWORD(wParam)); return 0;
    case WM_CLOSE: Exit(*tray); return 0;
    case WM_QUERYENDSESSION: tray->job->Stop(); return TRUE;
    case WM_ENDSESSION:
      // The session ends: cut the run short and wait for the engine to let go.
      if (wParam) tray->job->StopAndWait();
      return 0;
    case WM_DESTROY:
      ::KillTimer(window, kTickTimer);
      RemoveIcon(*tray);
      ::PostQuitMessage(0);
      return 0;
    default:
      // Explorer restarted: its new notification area has no icons yet.
      if (message == tray->taskbarCreated && tray->taskbarCreated != 0) {
        ShowIcon(*tray, true);
        return 0;
      }
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int RunTray(HINSTANCE instance, TrayOptions options) {
  Tray tray;
  tray.options = std::move(options);
  const std::string dates = tray.options.engineFolder + "defragdate";
  tray.rules = std::make_unique<AutoDefrag>([dates](char letter, std::time_t now) { return VolumeDue(dates, letter, now); });

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassA(&windowClass) == 0) return 1;
  // A top-level window that is never shown (not message-only: those miss the
  // "TaskbarCreated" broadcast).
  gTray = &tray;
  tray.window = ::CreateWindowExA(0, kWindowClass, kTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (tray.window == nullptr) {
    gTray = nullptr;
    return 1;
  }
  tray.job = std::make_unique<JobThread>(tray.window, tray.options.engineFolder);
  tray.taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
  tray.idleIcon = MakeTrayIcon(false);
  tray.busyIcon = MakeTrayIcon(true);
  tray.tip = tray.rules->TipText();
  ShowIcon(tray, true);
  if (!tray.options.tipFile.empty()) WriteTipFile(tray.options.tipFile, tray.tip);
  OnTick(tray);  // the first look at once, then on the timer

  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  tray.job.reset();
  gTray = nullptr;
  if (tray.idleIcon != nullptr) ::DestroyIcon(tray.idleIcon);
  if (tray.busyIcon != nullptr) ::DestroyIcon(tray.busyIcon);
  return 0;
}

}  // namespace realtime
