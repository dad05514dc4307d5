// Console queries on Windows: the console mode and screen buffer of the standard handles.
#define NOMINMAX
#include <windows.h>

#include "platform/console.h"

namespace platform {
namespace {

HANDLE StandardHandle(ConsoleStream stream) {
  return ::GetStdHandle(stream == ConsoleStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool IsTerminal(ConsoleStream stream) {
  // Only a console answers GetConsoleMode; files and pipes do not.
  DWORD mode = 0;
  const HANDLE handle = StandardHandle(stream);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

int TerminalColumns(ConsoleStream stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(StandardHandle(stream), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

}  // namespace platform
