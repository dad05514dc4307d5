// Opens the engine's dialogs through DLL_Options and DLL_Advance and drives them as a
// user would, from a second thread of the same process: checks every control's id, text
// and position (in dialog units, through MapDialogRect), presses buttons, types, ticks
// list rows, and reads back "preset.ini", "Setting", the Run values and the scheduled
// task through the Task Scheduler's own getters.
//
// Run from the folder that holds vexa.dll (the engine's working folder), prepared by
// dialogs_test.py with "preset.ini", "Setting", a volume map of C and E and VEXAAUTO.exe.
// Talks with the driver over its standard streams: "SHOT name" asks for a screenshot
// and waits for a line back. One line per check; the exit code is the number of failed
// checks (capped at 125).
#define NOMINMAX
#include <windows.h>
#include <commctrl.h>
#include <mstask.h>
#include <oleauto.h>
#include <taskschd.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "resources/dialog_ids.h"
#include "vexa/vexa.h"

namespace {

int gFailures = 0;

// The engine's exports, resolved by name: the library is loaded and unloaded by the
// harness itself, so unloading it runs the engine's shut-down (which saves "Setting").
void(VEXA_CALL* gOptions)() = nullptr;
int32_t(VEXA_CALL* gAdvance)() = nullptr;
int32_t(VEXA_CALL* gGetAutoRun)() = nullptr;
int32_t(VEXA_CALL* gGetLogout)() = nullptr;
int32_t(VEXA_CALL* gGetRestart)() = nullptr;

template <typename Function>
void Resolve(HMODULE engine, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(engine, name)));
}

void Check(bool ok, const std::string& what) {
  if (!ok) ++gFailures;
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
}

void Note(const std::string& what) {
  std::printf("NOTE: %s\n", what.c_str());
  std::fflush(stdout);
}

void Shot(const char* name) {
  Sleep(300);  // let the window paint
  std::printf("SHOT %s\n", name);
  std::fflush(stdout);
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) Note("no answer to SHOT");
}

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

std::string ReadWholeFile(const char* name) {
  std::string content;
  if (std::FILE* file = std::fopen(name, "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
    std::fclose(file);
  }
  return content;
}

std::string WorkingFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(GetModuleHandleA("vexa.dll"), path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// --- windows of this process ------------------------------------------------------

struct Search {
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && std::strcmp(text, search->title) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window of this process with the given title.
HWND FindOwnWindow(const char* title, DWORD timeoutMs = 5000) {
  const DWORD start = GetTickCount();
  do {
    Search search{title, nullptr};
    EnumWindows(&MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(50);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The text of the static child of a message box.
std::string MessageBoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text != nullptr ? WindowText(text) : std::string();
}

// Waits for a message box titled `title`, checks its text and presses its OK button.
void ExpectMessageBox(const char* title, const char* text, DWORD timeoutMs, const std::string& what) {
  HWND box = FindOwnWindow(title, timeoutMs);
  Check(box != nullptr && ClassOf(box) == "#32770", what + ": a message box titled \"" + title + "\"");
  if (box == nullptr) return;
  Check(MessageBoxText(box) == text, what + ": it says \"" + text + "\" (" + MessageBoxText(box) + ")");
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(20);
}

// Whether this system's Task Scheduler 2.0 makes log-on triggers (wine answers E_NOTIMPL
// to ITriggerCollection::Create(TASK_TRIGGER_LOGON), as to IPrincipal::put_LogonType and
// put_RunLevel; the engine then shows its failure and keeps the switch off).
bool LogonTasksWork() {
  ITaskService* service = nullptr;
  if (FAILED(CoCreateInstance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER, __uuidof(ITaskService),
                              reinterpret_cast<void**>(&service)))) {
    return false;
  }
  VARIANT none;
  VariantInit(&none);
  ITaskDefinition* definition = nullptr;
  ITriggerCollection* triggers = nullptr;
  ITrigger* trigger = nullptr;
  IPrincipal* principal = nullptr;
  const bool works = SUCCEEDED(service->Connect(none, none, none, none)) &&
                     SUCCEEDED(service->NewTask(0, &definition)) && SUCCEEDED(definition->get_Triggers(&triggers)) &&
                     SUCCEEDED(triggers->Create(TASK_TRIGGER_LOGON, &trigger)) &&
                     SUCCEEDED(definition->get_Principal(&principal)) &&
                     SUCCEEDED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST));
  for (IUnknown* held : {static_cast<IUnknown*>(principal), static_cast<IUnknown*>(trigger),
                         static_cast<IUnknown*>(triggers), static_cast<IUnknown*>(definition),
                         static_cast<IUnknown*>(service)}) {
    if (held != nullptr) held->Release();
  }
  return works;
}

void Press(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
  Sleep(150);
}

void Tick(HWND dialog, int id, bool on) {
  if ((IsDlgButtonChecked(dialog, id) == BST_CHECKED) != on) SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool Ticked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// --- templates ------------------------------------------------------------------------

struct Control {
  int id;  // -1: found by its text
  const char* className;
  const char* text;  // null: not compared
  int x, y, width, height;
};

HWND FindChildByText(HWND dialog, const char* text) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (WindowText(child) == text) return child;
  }
  return nullptr;
}

// The dialog's client size and every control's place, in dialog units of its font.
void CheckTemplate(HWND dialog, const char* name, const char* title, int width, int height,
                   const std::vector<Control>& controls) {
  Check(WindowText(dialog) == title, std::string(name) + ": title \"" + title + "\"");
  RECT expected{0, 0, width, height};
  MapDialogRect(dialog, &expected);
  RECT client{};
  GetClientRect(dialog, &client);
  Check(client.right == expected.right && client.bottom == expected.bottom,
        std::string(name) + ": client area " + std::to_string(width) + " x " + std::to_string(height) + " dialog units");
  for (const Control& control : controls) {
    HWND child = control.id >= 0 ? GetDlgItem(dialog, control.id) : FindChildByText(dialog, control.text);
    const std::string what = std::string(name) + ": " +
                             (control.id >= 0 ? "control " + std::to_string(control.id) : std::string("static")) +
                             " \"" + (control.text != nullptr ? control.text : "") + "\"";
    if (child == nullptr) {
      Check(false, what + " exists");
      continue;
    }
    if (control.text != nullptr && control.id >= 0) {
      Check(WindowText(child) == control.text, what + " text (" + WindowText(child) + ")");
    }
    Check(_stricmp(ClassOf(child).c_str(), control.className) == 0, what + " is a " + control.className);
    // The dialog manager maps a control's position and its size each on its own.
    RECT place{control.x, control.y, control.width, control.height};
    MapDialogRect(dialog, &place);
    place.right += place.left;
    place.bottom += place.top;
    RECT actual{};
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    Check(actual.left == place.left && actual.top == place.top && actual.right == place.right &&
              actual.bottom == place.bottom,
          what + " at " + std::to_string(control.x) + ", " + std::to_string(control.y) + ", " +
              std::to_string(control.width) + ", " + std::to_string(control.height));
  }
}

const std::vector<Control> kOptionsControls = {
    {IDOK, "Button", "OK", 58, 203, 50, 14},
    {IDCANCEL, "Button", "Close", 157, 203, 50, 14},
    {-1, "Button", "Filter", 7, 10, 249, 130},
    {-1, "Static", "Enter the filtered items while analyzing or defragging.", 14, 20, 226, 8},
    {-1, "Static", "Notice: the items should be separated by ';' .", 14, 33, 179, 8},
    {-1, "Static", "Folder:", 11, 54, 26, 8},
    {IDC_FOLDER_EDIT, "Edit", nullptr, 46, 54, 186, 16},
    {-1, "Static", "File:", 21, 77, 16, 9},
    {IDC_FILE_EDIT, "Edit", nullptr, 46, 77, 186, 16},
    {-1, "Static", "Explain: the file extension is needless.", 47, 95, 137, 8},
    {-1, "Static", "Type:", 14, 109, 23, 9},
    {IDC_TYPE_EDIT, "Edit", nullptr, 46, 109, 186, 16},
    {-1, "Static", "Type example: exe; rar; dll; jpg; fla; psd.", 47, 127, 173, 8},
    {-1, "Button", "Setting", 7, 142, 249, 51},
    {IDC_TURNOFF_CHECK, "Button", "Turn off computer after defragment", 13, 159, 128, 10},
    {IDC_STARTUP_CHECK, "Button", "Run at Windows startup", 158, 159, 92, 10},
    {IDC_RESTART_CHECK, "Button", "Restart computer after defragment", 13, 174, 126, 10},
};

const std::vector<Control> kAdvanceControls = {
    {-1, "Button", "Real-time Defragment", 7, 7, 249, 103},
    {-1, "Static",
     "Program will automatically detect out disk fragments in the computer, and defrag on the background quietly "
     "with a very low CPU usage, constantly maintain your PC performance.",
     18, 22, 224, 27},
    {-1, "Static", "Note: You may check the fragments status in the system tray.", 18, 55, 206, 8},
    {IDC_REALTIME_STARTUP_CHECK, "Button", "Run Real-time defragment at windows startup.(recommended)", 31, 68, 211, 10},
    {IDC_REALTIME_BUTTON, "Button", nullptr, 105, 87, 50, 14},
    {-1, "Button", "Schedule", 7, 118, 249, 33},
    {IDC_ADD_SCHEDULE, "Button", "Add schedule", 26, 131, 66, 14},
    {IDC_EDIT_SCHEDULE, "Button", "Edit shedule", 96, 131, 66, 14},
    {IDC_REMOVE_SCHEDULE, "Button", "Remove schedule", 166, 131, 66, 14},
    {IDOK, "Button", "OK", 68, 161, 50, 14},
    {IDCANCEL, "Button", "Cancel", 145, 161, 50, 14},
};

const std::vector<Control> kScheduleControls = {
    {IDOK, "Button", "Next", 7, 128, 50, 14},
    {IDCANCEL, "Button", "Cancel", 104, 128, 50, 14},
    {-1, "Static", "Select volumes you want to defrag.", 7, 7, 147, 8},
};

// --- the dialogs on their own thread ------------------------------------------------

DWORD WINAPI OptionsThread(LPVOID) {
  gOptions();
  return 0;
}

DWORD WINAPI AdvanceThread(LPVOID) {
  gAdvance();
  return 0;
}

struct Opened {
  HANDLE thread;
  HWND dialog;
};

Opened Open(LPTHREAD_START_ROUTINE routine) {
  Opened opened{CreateThread(nullptr, 0, routine, nullptr, 0, nullptr), nullptr};
  opened.dialog = FindOwnWindow("Tolvane Disk Defrag Options");
  return opened;
}

bool Closed(const Opened& opened, const std::string& what) {
  const bool ended = WaitForSingleObject(opened.thread, 10000) == WAIT_OBJECT_0;
  Check(ended, what + ": the export returns");
  CloseHandle(opened.thread);
  return ended;
}

// --- processes and the task -----------------------------------------------------------

DWORD FindProcess(const char* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD id = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && id == 0; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, name) == 0) id = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return id;
}

const wchar_t kTaskName[] = L"Tolvane Disk Defrag Schedule";

ITaskScheduler* Scheduler() {
  ITaskScheduler* scheduler = nullptr;
  CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                   reinterpret_cast<void**>(&scheduler));
  return scheduler;
}

HRESULT DeleteTask() {
  ITaskScheduler* scheduler = Scheduler();
  if (scheduler == nullptr) return E_FAIL;
  const HRESULT result = scheduler->Delete(kTaskName);
  scheduler->Release();
  return result;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

void CheckTask(const std::string& folder) {
  ITaskScheduler* scheduler = Scheduler();
  Check(scheduler != nullptr, "task: the Task Scheduler can be created");
  if (scheduler == nullptr) return;
  ITask* task = nullptr;
  const HRESULT found = scheduler->Activate(kTaskName, IID_ITask, reinterpret_cast<IUnknown**>(&task));
  scheduler->Release();
  Check(SUCCEEDED(found), "task: \"Tolvane Disk Defrag Schedule\" exists (" + Hex(static_cast<unsigned long>(found)) + ")");
  if (FAILED(found)) return;
  LPWSTR text = nullptr;
  if (SUCCEEDED(task->GetApplicationName(&text))) {
    Check(Narrow(text) == folder + "vexa.exe", "task: application " + Narrow(text));
    CoTaskMemFree(text);
  }
  if (SUCCEEDED(task->GetParameters(&text))) {
    Check(Narrow(text) == "CE", "task: parameters " + Narrow(text));
    CoTaskMemFree(text);
  }
  if (SUCCEEDED(task->GetWorkingDirectory(&text))) {
    Check(Narrow(text) == folder, "task: working directory " + Narrow(text));
    CoTaskMemFree(text);
  }
  if (SUCCEEDED(task->GetComment(&text))) {
    Check(Narrow(text) == "Run Tolvane Disk Defrag at schedule time.", "task: comment " + Narrow(text));
    CoTaskMemFree(text);
  }
  if (SUCCEEDED(task->GetAccountInformation(&text))) {
    Note("task: account " + Narrow(text));
    CoTaskMemFree(text);
  } else {
    Note("task: this Task Scheduler does not give the account back");
  }
  DWORD flags = 0;
  const bool gotFlags = SUCCEEDED(task->GetFlags(&flags));
  Check(gotFlags && flags == 0x2001, "task: flags " + Hex(flags));
  ITaskTrigger* trigger = nullptr;
  if (SUCCEEDED(task->GetTrigger(0, &trigger))) {
    TASK_TRIGGER record{};
    record.cbTriggerSize = sizeof record;
    const bool got = SUCCEEDED(trigger->GetTrigger(&record));
    SYSTEMTIME today{};
    GetLocalTime(&today);
    Check(got && record.TriggerType == TASK_TIME_TRIGGER_DAILY && record.Type.Daily.DaysInterval == 1 &&
              record.wStartHour == 15 && record.wStartMinute == 0 && record.wBeginYear == today.wYear &&
              record.wBeginMonth == today.wMonth && record.wBeginDay == today.wDay,
          "task: trigger daily at 15:00 from today");
    trigger->Release();
  } else {
    Check(false, "task: has a trigger");
  }
  task->Release();
}

// --- the cases ----------------------------------------------------------------------

void OptionsDialog(const std::string& /*folder*/) {
  Opened opened = Open(OptionsThread);
  HWND dialog = opened.dialog;
  Check(dialog != nullptr, "Options: DLL_Options shows the dialog");
  if (dialog == nullptr) return;
  CheckTemplate(dialog, "Options", "Tolvane Disk Defrag Options", 263, 226, kOptionsControls);
  const LONG style = GetWindowLongA(GetDlgItem(dialog, IDC_FOLDER_EDIT), GWL_STYLE);
  const LONG extended = GetWindowLongA(GetDlgItem(dialog, IDC_FOLDER_EDIT), GWL_EXSTYLE);
  // A dialog turns an edit's WS_BORDER into the sunken client edge.
  Check((style & ES_AUTOHSCROLL) != 0 && ((style & WS_BORDER) != 0 || (extended & WS_EX_CLIENTEDGE) != 0),
        "Options: edit 101 is bordered and scrolls");
  Check(WindowText(GetDlgItem(dialog, IDC_FOLDER_EDIT)) == "Temp;" &&
            WindowText(GetDlgItem(dialog, IDC_TYPE_EDIT)) == "exe;",
        "Options: the boxes show preset.ini's texts");
  Check(!Ticked(dialog, IDC_STARTUP_CHECK) && !Ticked(dialog, IDC_TURNOFF_CHECK) && Ticked(dialog, IDC_RESTART_CHECK),
        "Options: the boxes show Setting's switches (restart on)");
  Shot("options");

  Tick(dialog, IDC_TURNOFF_CHECK, true);
  Check(Ticked(dialog, IDC_TURNOFF_CHECK) && !Ticked(dialog, IDC_RESTART_CHECK), "Options: ticking 105 clears 106");
  Tick(dialog, IDC_RESTART_CHECK, true);
  Check(!Ticked(dialog, IDC_TURNOFF_CHECK) && Ticked(dialog, IDC_RESTART_CHECK), "Options: ticking 106 clears 105");

  HWND edit = GetDlgItem(dialog, IDC_FOLDER_EDIT);
  SetFocus(edit);
  PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
  Sleep(500);
  Check(IsWindow(dialog) && IsWindowVisible(dialog), "Options: Enter and Escape leave the dialog open");

  SetWindowTextA(edit, "Temp; My Data ;;Old;");
  Tick(dialog, IDC_STARTUP_CHECK, true);
  Tick(dialog, IDC_TURNOFF_CHECK, true);
  Shot("options-edited");
  Press(dialog, IDOK);
  const bool logonTasks = LogonTasksWork();
  if (!logonTasks) {
    Note("Task Scheduler 2.0: no log-on trigger or run level here; the start-up switch stays off");
    ExpectMessageBox("Tolvane Disk Defrag", "Fail to write a registry key.", 10000, "Options OK without log-on tasks");
  }
  if (!Closed(opened, "Options OK")) return;
  Check(ReadWholeFile("preset.ini") == "[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]\r\nexe",
        "Options OK: preset.ini rewritten from the texts");
  Check(gGetAutoRun() == (logonTasks ? 1 : 0) && gGetLogout() == 1 && gGetRestart() == 0,
        "Options OK: the live switches");
  // The switch is a log-on task now: the Run value Windows would block is not written.
  char value[MAX_PATH + 8] = {};
  DWORD size = sizeof value;
  const LONG read = RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Vexarun",
                                 RRF_RT_REG_SZ, nullptr, value, &size);
  Check(read == ERROR_FILE_NOT_FOUND, std::string("Options OK: no Vexarun Run value (") + value + ")");

  // Close after an edit: nothing changes, the next opening shows the old text.
  const std::string before = ReadWholeFile("preset.ini");
  opened = Open(OptionsThread);
  dialog = opened.dialog;
  Check(dialog != nullptr, "Options: shown again");
  if (dialog == nullptr) return;
  Check(WindowText(GetDlgItem(dialog, IDC_FOLDER_EDIT)) == "Temp; My Data ;;Old;",
        "Options: the typed text stays until the engine starts again");
  SetWindowTextA(GetDlgItem(dialog, IDC_FOLDER_EDIT), "Changed;");
  Tick(dialog, IDC_STARTUP_CHECK, false);
  Press(dialog, IDCANCEL);
  if (!Closed(opened, "Options Close")) return;
  Check(ReadWholeFile("preset.ini") == before && gGetAutoRun() == (logonTasks ? 1 : 0),
        "Options Close: file and switches unchanged");
  opened = Open(OptionsThread);
  if (opened.dialog == nullptr) return;
  Check(WindowText(GetDlgItem(opened.dialog, IDC_FOLDER_EDIT)) == "Temp; My Data ;;Old;" &&
            Ticked(opened.dialog, IDC_STARTUP_CHECK),
        "Options Close: the next opening shows the old data");
  PostMessageA(opened.dialog, WM_CLOSE, 0, 0);
  Closed(opened, "Options title-bar close");
}

HWND ListOf(HWND selection) { return GetDlgItem(selection, IDC_VOLUME_LIST); }

void VolumeSelection(HWND advance) {
  Press(advance, IDC_ADD_SCHEDULE);
  HWND selection = FindOwnWindow("Tolvane Disk Defrag Schedule");
  Check(selection != nullptr, "Add schedule: the volume selection dialog opens");
  if (selection == nullptr) return;
  CheckTemplate(selection, "Volume selection", "Tolvane Disk Defrag Schedule", 161, 150, kScheduleControls);
  HWND list = ListOf(selection);
  Check(list != nullptr && ClassOf(list) == "SysListView32", "Volume selection: list 110");
  if (list == nullptr) return;
  RECT client{}, place{};
  GetClientRect(selection, &client);
  GetWindowRect(list, &place);
  MapWindowPoints(nullptr, selection, reinterpret_cast<POINT*>(&place), 2);
  Check(place.left == 10 && place.top == 30 && place.right == client.right - 10 && place.bottom == client.bottom - 50,
        "Volume selection: the list fills the dialog to 10 pixels and 50 at the bottom");
  const DWORD extended = ListView_GetExtendedListViewStyle(list);
  Check((extended & (LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT)) ==
            (LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT),
        "Volume selection: grid lines, check boxes, full-row select");
  char text[64] = {};
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.pszText = text;
  column.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  Check(std::string(text) == "   Volume" && column.cx == 120, "Volume selection: column 0 \"   Volume\", 120 pixels");
  SendMessageA(list, LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
  Check(std::string(text) == "Size" && column.cx == 100, "Volume selection: column 1 \"Size\", 100 pixels");
  HWND header = ListView_GetHeader(list);
  HWND box = GetDlgItem(header, IDC_HEADER_CHECK);
  Check(box != nullptr, "Volume selection: header box 111 in the list's header");

  const int rows = ListView_GetItemCount(list);
  std::string letters;
  std::vector<std::string> sizes;
  for (int i = 0; i < rows; ++i) {
    char cell[64] = {};
    ListView_GetItemText(list, i, 0, cell, sizeof cell);
    letters += cell;
    ListView_GetItemText(list, i, 1, cell, sizeof cell);
    sizes.push_back(cell);
  }
  Note("volume rows: " + letters);
  Check(rows >= 2 && letters.substr(0, 2) == "CE" && sizes[0] == "0.1 GB" && sizes[1] == "0.0 GB",
        "Volume selection: the mapped fixed drives C and E come first with their sizes (" +
            (sizes.size() >= 2 ? sizes[0] + ", " + sizes[1] : std::string()) + ")");
  Shot("volume-selection");

  Press(selection, IDOK);
  ExpectMessageBox("Error", "Please select volume.", 5000, "Next with nothing ticked");
  Check(IsWindow(selection), "Next with nothing ticked: the dialog stays");

  if (box != nullptr) {
    SendMessageA(box, BM_CLICK, 0, 0);
    bool all = true;
    for (int i = 0; i < rows; ++i) all = all && ListView_GetCheckState(list, i);
    Check(all && SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED, "Header box: ticks every row");
    ListView_SetCheckState(list, 0, FALSE);
    Check(SendMessageA(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED, "Header box: unticked when a row is");
    ListView_SetCheckState(list, 0, TRUE);
    Check(SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED, "Header box: ticked again when all rows are");
    SendMessageA(box, BM_CLICK, 0, 0);
    bool none = true;
    for (int i = 0; i < rows; ++i) none = none && !ListView_GetCheckState(list, i);
    Check(none && SendMessageA(box, BM_GETCHECK, 0, 0) == BST_UNCHECKED, "Header box: pressed again, unticks all");
  }
  // E first, then C: the task gets them in row order.
  ListView_SetCheckState(list, 1, TRUE);
  ListView_SetCheckState(list, 0, TRUE);
  Shot("volume-selection-ticked");
  Press(selection, IDOK);
  for (int i = 0; i < 100 && IsWindow(selection); ++i) Sleep(50);
  Check(!IsWindow(selection), "Next with C and E ticked: the dialog closes");
}

void AdvanceDialog(const std::string& folder) {
  const HRESULT cleared = DeleteTask();
  Note("Task Scheduler Delete of a missing task: " + Hex(static_cast<unsigned long>(cleared)));

  // The real-time defragmenter runs when the dialog opens.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string program = folder + "VEXAAUTO.exe";
  Check(CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                       &process) != 0,
        "the stand-in VEXAAUTO.exe starts");
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  Opened opened = Open(AdvanceThread);
  HWND dialog = opened.dialog;
  Check(dialog != nullptr, "Advance: DLL_Advance shows the dialog");
  if (dialog == nullptr) return;
  CheckTemplate(dialog, "Advance", "Tolvane Disk Defrag Options", 263, 182, kAdvanceControls);
  HWND realTime = GetDlgItem(dialog, IDC_REALTIME_BUTTON);
  Check(WindowText(realTime) == "Turn off", "Advance: VEXAAUTO.exe runs, the button reads Turn off");
  Check(IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)) && !IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_SCHEDULE)) &&
            !IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE)),
        "Advance: no task, so only Add schedule is enabled");
  Shot("advance");

  Press(dialog, IDC_REALTIME_BUTTON);
  for (int i = 0; i < 100 && WindowText(realTime) != "Turn on"; ++i) Sleep(50);
  Check(WindowText(realTime) == "Turn on" && FindProcess("VEXAAUTO.exe") == 0, "Turn off: the program has ended");
  Press(dialog, IDC_REALTIME_BUTTON);
  for (int i = 0; i < 200 && WindowText(realTime) != "Turn off"; ++i) Sleep(50);
  Check(WindowText(realTime) == "Turn off" && FindProcess("VEXAAUTO.exe") != 0,
        "Turn on: VEXAAUTO.exe started from the working folder");
  Press(dialog, IDC_REALTIME_BUTTON);
  for (int i = 0; i < 100 && WindowText(realTime) != "Turn on"; ++i) Sleep(50);

  // Without the program: the message within the 10-second wait, the button stays.
  const std::string hidden = folder + "VEXAAUTO.hidden";
  MoveFileA(program.c_str(), hidden.c_str());
  Press(dialog, IDC_REALTIME_BUTTON);
  ExpectMessageBox("Tolvane Disk Defrag", "VEXAAUTO.exe could not be started.", 15000, "Turn on without VEXAAUTO.exe");
  Check(WindowText(realTime) == "Turn on", "Turn on without VEXAAUTO.exe: the button stays Turn on");
  MoveFileA(hidden.c_str(), program.c_str());

  // Add schedule, cancelled in the volume selection: nothing happens.
  Press(dialog, IDC_ADD_SCHEDULE);
  if (HWND selection = FindOwnWindow("Tolvane Disk Defrag Schedule"); selection != nullptr) {
    Press(selection, IDCANCEL);
    for (int i = 0; i < 100 && IsWindow(selection); ++i) Sleep(20);
  }
  Check(IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)) && !IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_SCHEDULE)),
        "Add schedule cancelled: buttons unchanged");

  VolumeSelection(dialog);
  for (int i = 0; i < 100 && IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)); ++i) Sleep(50);
  Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)) && IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_SCHEDULE)) &&
            IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE)),
        "Add schedule: Add disabled, Edit and Remove enabled");
  CheckTask(folder);

  // The start-up box: Cancel forgets it.
  Tick(dialog, IDC_REALTIME_STARTUP_CHECK, true);
  Press(dialog, IDCANCEL);
  if (!Closed(opened, "Advance Cancel")) return;
  char value[MAX_PATH + 8] = {};
  DWORD size = sizeof value;
  Check(RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "VEXAAUTO", RRF_RT_REG_SZ,
                     nullptr, value, &size) != ERROR_SUCCESS,
        "Advance Cancel: no VEXAAUTO value");

  opened = Open(AdvanceThread);
  dialog = opened.dialog;
  if (dialog == nullptr) return;
  Check(!Ticked(dialog, IDC_REALTIME_STARTUP_CHECK), "Advance: after Cancel the box is clear again");
  Check(!IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)) && IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_SCHEDULE)) &&
            IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE)),
        "Advance: with the task present Add is disabled, Edit and Remove enabled");
  Shot("advance-task");
  Press(dialog, IDC_REMOVE_SCHEDULE);
  Sleep(500);
  if (HWND box = FindOwnWindow("Error", 1000); box != nullptr) {
    Note("Remove schedule: this Task Scheduler refused Delete (" + MessageBoxText(box) + ")");
    Check(MessageBoxText(box) == "Fail to delete schedule.", "Remove refused: \"Fail to delete schedule.\"");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    Sleep(300);
    Check(IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE)), "Remove refused: buttons unchanged");
    const HRESULT again = DeleteTask();
    Note("Task Scheduler Delete of the task: " + Hex(static_cast<unsigned long>(again)));
  } else {
    Check(IsWindowEnabled(GetDlgItem(dialog, IDC_ADD_SCHEDULE)) && !IsWindowEnabled(GetDlgItem(dialog, IDC_EDIT_SCHEDULE)) &&
              !IsWindowEnabled(GetDlgItem(dialog, IDC_REMOVE_SCHEDULE)),
          "Remove schedule: Add enabled, Edit and Remove disabled");
    ITaskScheduler* scheduler = Scheduler();
    ITask* task = nullptr;
    const HRESULT found = scheduler != nullptr
                              ? scheduler->Activate(kTaskName, IID_ITask, reinterpret_cast<IUnknown**>(&task))
                              : E_FAIL;
    if (task != nullptr) task->Release();
    if (scheduler != nullptr) scheduler->Release();
    Check(FAILED(found), "Remove schedule: the task is gone");
    Note("Task Scheduler Delete of the task: succeeded");
  }

  Tick(dialog, IDC_REALTIME_STARTUP_CHECK, true);
  Press(dialog, IDOK);
  if (!LogonTasksWork()) {
    ExpectMessageBox("Tolvane Disk Defrag", "Fail to write a registry key.", 10000, "Advance OK without log-on tasks");
  }
  if (!Closed(opened, "Advance OK")) return;
  value[0] = 0;
  size = sizeof value;
  const LONG read = RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "VEXAAUTO",
                                 RRF_RT_REG_SZ, nullptr, value, &size);
  Check(read == ERROR_FILE_NOT_FOUND, std::string("Advance OK: no VEXAAUTO Run value (") + value + ")");
}

}  // namespace

int main() {
  CoInitialize(nullptr);
  HMODULE engine = LoadLibraryA("vexa.dll");
  Check(engine != nullptr, "vexa.dll loads from the working folder");
  if (engine == nullptr) return 1;
  Resolve(engine, "DLL_Options", &gOptions);
  Resolve(engine, "DLL_Advance", &gAdvance);
  Resolve(engine, "DLL_GetAutoRun", &gGetAutoRun);
  Resolve(engine, "DLL_GetLogout", &gGetLogout);
  Resolve(engine, "DLL_GetRestart", &gGetRestart);
  Check(gOptions && gAdvance && gGetAutoRun && gGetLogout && gGetRestart,
        "DLL_Options and DLL_Advance are exported by name");
  if (!gOptions || !gAdvance || !gGetAutoRun || !gGetLogout || !gGetRestart) return 1;
  const std::string folder = WorkingFolder();
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Vexarun");
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "VEXAAUTO");
  OptionsDialog(folder);
  AdvanceDialog(folder);
  FreeLibrary(engine);
  const std::string setting = ReadWholeFile("Setting");
  const char logon = LogonTasksWork() ? 1 : 0;
  Check(setting.size() == 13 && setting.substr(0, 9) == "123456789" && setting[9] == logon && setting[10] == 1 &&
            setting[11] == 0 && setting[12] == logon,
        "unload: Setting holds start-up, turn-off, no restart, real-time start-up; bytes 0 to 8 kept");
  if (HWND leftover = FindOwnWindow("Tolvane Disk Defrag Options", 0); leftover != nullptr) Note("a dialog was left open");
  DeleteTask();
  if (const DWORD id = FindProcess("VEXAAUTO.exe"); id != 0) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
  CoUninitialize();
  std::printf("%d failed\n", gFailures);
  return gFailures > 125 ? 125 : gFailures;
}
