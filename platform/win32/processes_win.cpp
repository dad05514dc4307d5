// Processes on Windows: a Toolhelp snapshot for the look-up, a process handle opened
// at the look-up for ending one, ShellExecuteA for starting one.
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

class WinProcesses : public Processes {
 public:
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
