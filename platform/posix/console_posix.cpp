// Console queries on POSIX systems: isatty and the TIOCGWINSZ window size.
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/console.h"

namespace platform {
namespace {

int Descriptor(ConsoleStream stream) { return stream == ConsoleStream::kOutput ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

bool IsTerminal(ConsoleStream stream) { return ::isatty(Descriptor(stream)) == 1; }

int TerminalColumns(ConsoleStream stream) {
  struct winsize size {};
  if (::ioctl(Descriptor(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace platform
