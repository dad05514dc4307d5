// Processes on Windows: a Toolhelp snapshot for the look-up, a process handle opened
// at the look-up for ending one (checked against the image path and creation time of
// the one found), a close message to its windows before the hard end, ShellExecuteA
// for starting one.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include "platform/processes.h"

namespace platform {
namespace {

class HandleHolder {
 public:
  explicit HandleHolder(HANDLE handle) : handle_(handle) {}
  ~HandleHolder() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// The full image path and creation time of an open process; false when unreadable.
bool Identify(HANDLE process, std::string* path, std::uint64_t* startTime) {
  char buffer[MAX_PATH * 4];
  DWORD size = sizeof buffer;
  if (!QueryFullProcessImageNameA(process, 0, buffer, &size)) return false;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  path->assign(buffer, size);
  *startTime = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return true;
}

BOOL CALLBACK PostClose(HWND window, LPARAM id) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(id)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

class WinProcesses : public Processes {
 public:
  ProcessIdentity FindInSession(const std::string& imagePath) override {
    DWORD mine = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &mine)) return {};
    HandleHolder snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return {};
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
      DWORD session = 0;
      if (!ProcessIdToSessionId(entry.th32ProcessID, &session) || session != mine) continue;
      HandleHolder process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      if (!process.Valid()) continue;
      ProcessIdentity found;
      if (!Identify(process.Get(), &found.imagePath, &found.startTime)) continue;
      if (!SameNameIgnoringCase(found.imagePath, imagePath)) continue;
      found.id = entry.th32ProcessID;
      return found;
    }
    return {};
  }

  bool EndGently(const ProcessIdentity& found, std::uint32_t closeWaitMs, std::uint32_t endWaitMs) override {
    if (found.id == 0) return false;
    // From here on the handle pins the process: its id cannot be handed to another.
    HandleHolder process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     found.id));
    if (!process.Valid()) return false;
    std::string path;
    std::uint64_t startTime = 0;
    if (!Identify(process.Get(), &path, &startTime) || !SameNameIgnoringCase(path, found.imagePath) ||
        startTime != found.startTime) {
      return false;
    }
    EnumWindows(PostClose, static_cast<LPARAM>(found.id));
    if (WaitForSingleObject(process.Get(), closeWaitMs) == WAIT_OBJECT_0) return true;
    if (!TerminateProcess(process.Get(), 0)) return false;
    WaitForSingleObject(process.Get(), endWaitMs);
    return true;
  }

  std::uint32_t Find(const std::string& imageName) override {
    HandleHolder snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
      if (SameNameIgnoringCase(entry.szExeFile, imageName)) return entry.th32ProcessID;
    }
    return 0;
  }

  bool EndByName(const std::string& imageName, std::uint32_t waitMs) override {
    const DWORD id = Find(imageName);
    if (id == 0) return false;
    HandleHolder process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process.Valid()) return false;
    if (!TerminateProcess(process.Get(), 0)) return false;
    WaitForSingleObject(process.Get(), waitMs);
    return true;
  }

  bool Start(const std::string& path, const std::string& folder) override {
    const HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
  }

  std::uint64_t NowMs() override { return GetTickCount64(); }
  void SleepMs(std::uint32_t ms) override { Sleep(ms); }
};

}  // namespace

Processes& SystemProcesses() {
  static WinProcesses processes;
  return processes;
}

}  // namespace platform
