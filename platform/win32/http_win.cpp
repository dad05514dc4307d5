// The HTTP seam on Windows: one GET through WinINet, bounded in time.
//
// WinINet's own time-outs do not cover every way a server can stall (a server that
// accepts the connection and never answers can hold InternetOpenUrl well past them), so
// the request runs on a thread of its own and the caller waits at most the time-out;
// closing the session handle then makes the blocked call return, and the thread cleans up
// its temporary file before it ends.
#include "platform/http.h"

#include "platform/download_body.h"

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
  std::size_t maxBytes = 0;
  HINTERNET session = nullptr;
  std::atomic<bool> abandoned{false};
  bool ok = false;
};

bool Fetch(Download& d) {
  // Certificates are checked (no INTERNET_FLAG_IGNORE_CERT_* flag), and WinINet refuses a
  // redirect from HTTPS to plain HTTP unless told otherwise.
  const bool secure = d.address.compare(0, 8, "https://") == 0;
  HINTERNET request = ::InternetOpenUrlA(d.session, d.address.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                             INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                                             (secure ? INTERNET_FLAG_SECURE : 0),
                                         0);
  if (request == nullptr) return false;
  DWORD status = 0;
  DWORD size = sizeof status;
  bool ok = ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
            status == 200;
  if (ok) {
    const BodyReader read = [request](char* buffer, std::size_t capacity) -> long {
      DWORD got = 0;
      if (!::InternetReadFile(request, buffer, static_cast<DWORD>(capacity), &got)) return -1;
      return static_cast<long>(got);
    };
    ok = ReceiveBody(read, d.temporary, d.maxBytes, [&d] { return d.abandoned.load(); });
  }
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

bool DownloadToFile(const std::string& address, const std::string& path, int timeoutMs, std::size_t maxBytes) {
  auto d = std::make_shared<Download>();
  d->maxBytes = maxBytes;
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
