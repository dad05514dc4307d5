// The HTTP seam: the single request DefragShell makes, the download of a small file.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Downloads `address` (an "http://host[:port]/path" or "https://host[:port]/path"
// address; over HTTPS the server's certificate must be valid for the host) into the file
// `path`. Connecting, sending and reading each get at most `timeoutMs`, and the whole
// download is abandoned once it has taken that long in all. The body is written to a
// temporary file beside `path` that replaces `path` only when the server answered 200
// and the body, at most `maxBytes` long, was read whole; a failed, abandoned or over-long
// download leaves `path` as it was and no temporary file behind. True on success. WinINet
// on Windows; elsewhere there is no HTTP client and the call fails. Any thread.
[[nodiscard]] bool DownloadToFile(const std::string& address, const std::string& path, int timeoutMs,
                                  std::size_t maxBytes);

}  // namespace platform
