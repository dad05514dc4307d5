// Saving a bounded HTTP body (see download_body.h).
#include "platform/download_body.h"

#include <cstdio>

namespace platform {

bool ReceiveBody(const BodyReader& read, const std::string& temporary, std::size_t maxBytes,
                 const std::function<bool()>& abandoned) {
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  char buffer[8192];
  std::size_t total = 0;
  bool ok = true;
  while (ok) {
    // One byte more than the limit allows is enough to know the body is too long.
    const std::size_t room = maxBytes - total + 1;
    const long got = read(buffer, room < sizeof buffer ? room : sizeof buffer);
    if (got < 0 || abandoned()) {
      ok = false;
    } else if (got == 0) {
      break;
    } else {
      total += static_cast<std::size_t>(got);
      ok = total <= maxBytes && std::fwrite(buffer, 1, static_cast<std::size_t>(got), file) == static_cast<std::size_t>(got);
    }
  }
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

}  // namespace platform
