// The HTTP seam: the single request DefragShell makes, the download of a small file.
#pragma once

#include <string>

namespace platform {

// Downloads `address` (an "http://host[:port]/path" address) into the file `path`.
// Connecting, sending and reading each get at most `timeoutMs`, and the whole download
// is abandoned once it has taken that long in all. The body is written to a temporary file
// beside `path` that replaces `path` only when the server answered 200 and the body was
// read whole; a failed or abandoned download leaves `path` as it was and no temporary
// file behind. True on success. WinINet on Windows; elsewhere there is no HTTP client and
// the call fails. Any thread.
[[nodiscard]] bool DownloadToFile(const std::string& address, const std::string& path, int timeoutMs);

}  // namespace platform
