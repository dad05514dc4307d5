// The system's document opener on Windows: ShellExecuteA with the default verb.
#include <windows.h>
#include <shellapi.h>

#include "platform/shell.h"

namespace platform {

void OpenDocumentWithSystem(const char* target) {
  if (target == nullptr) return;
  // No owner window, default verb, no parameters or directory; the result is not used:
  // a page the shell cannot open is the shell's and the browser's business.
  ShellExecuteA(nullptr, nullptr, target, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace platform
