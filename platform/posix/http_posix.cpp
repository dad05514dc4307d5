// The HTTP seam off Windows: no client; only DefragShell downloads, and it runs on Windows.
#include "platform/http.h"

namespace platform {

bool DownloadToFile(const std::string&, const std::string&, int, std::size_t) { return false; }

}  // namespace platform
