// The system's message display off Windows: one line on the standard error stream.
#include <cstdio>

#include "platform/message_box.h"

namespace platform {

void ShowMessageWithSystem(const char* text, const char* /*title*/) {
  std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
  std::fflush(stderr);
}

}  // namespace platform
