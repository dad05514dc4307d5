// The HTTP seam on Windows: one GET through WinINet, bounded in time.
//
// WinINet's own time-outs do not cover every way a server can stall (a server that
// accepts the connection and never answers can hold InternetOpenUrl well past them), so
// the request runs on a thread of its own and the caller waits at most the time-out;
// closing the session handle then makes the blocked call return, and the thread cleans up
// its temporary file before it ends.
#include "platform/http.h"

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>

namespace platform {
namespace {

struct Download {
  std::string address;
  std::string path;
  std::string temporary;
  HINTERNET session = nullptr;
  std::atomic<bool> abandoned{false};
  bool ok = false;
};

bool Fetch(Download& d) {
  HINTERNET request = ::InternetOpenUrlA(d.session, d.address.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                             INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI,
                                         0);
  if (request == nullptr) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  bool ok = ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
            status == 200;
  HANDLE file = ok ? ::CreateFileA(d.temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)
                   : INVALID_HANDLE_VALUE;
  ok = ok && file != INVALID_HANDLE_VALUE;
  char buffer[8192];
  while (ok) {
    DWORD read = 0;
    if (!::InternetReadFile(request, buffer, sizeof buffer, &read)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    DWORD written = 0;
    ok = ::WriteFile(file, buffer, read, &written, nullptr) && written == read && !d.abandoned.load();
  }
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  ::InternetCloseHandle(request);
  return ok && !d.abandoned.load();
}

DWORD WINAPI FetchThread(void* parameter) {
  std::shared_ptr<Download> d(*static_cast<std::shared_ptr<Download>*>(parameter));
  delete static_cast<std::shared_ptr<Download>*>(parameter);
  bool ok = Fetch(*d);
  // Only a download the caller still waits for may replace the file.
  if (ok && !d->abandoned.load()) {
    ok = ::MoveFileExA(d->temporary.c_str(), d->path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  }
  if (!ok) ::DeleteFileA(d->temporary.c_str());
  d->ok = ok;
  return 0;
}

}  // namespace

bool DownloadToFile(const std::string& address, const std::string& path, int timeoutMs) {
  auto d = std::make_shared<Download>();
  d->address = address;
  d->path = path;
  d->temporary = path + ".download";
  d->session = ::InternetOpenA("Tolvane Disk Defrag", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (d->session == nullptr) return false;
  DWORD timeout = static_cast<DWORD>(timeoutMs);
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    ::InternetSetOptionA(d->session, option, &timeout, sizeof timeout);
  }
  auto* handOver = new std::shared_ptr<Download>(d);
  HANDLE thread = ::CreateThread(nullptr, 0, FetchThread, handOver, 0, nullptr);
  if (thread == nullptr) {
    delete handOver;
    ::InternetCloseHandle(d->session);
    return false;
  }
  const bool finished = ::WaitForSingleObject(thread, timeout) == WAIT_OBJECT_0;
  if (!finished) {
    d->abandoned.store(true);
    // Unblocks the thread's WinINet call; it then removes its temporary file and ends.
    ::InternetCloseHandle(d->session);
    ::WaitForSingleObject(thread, 2000);
    ::CloseHandle(thread);
    return false;
  }
  ::CloseHandle(thread);
  ::InternetCloseHandle(d->session);
  return d->ok;
}

}  // namespace platform
