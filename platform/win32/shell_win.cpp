// The system's document opener on Windows: ShellExecuteA with the default verb.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "platform/shell.h"

namespace platform {

void OpenDocumentWithSystem(const char* target) {
  if (target == nullptr) return;
  // Some shell handlers are COM objects, so the calling thread gets an apartment for
  // the call when it has none yet (a thread that already has one keeps it).
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  // No owner window, default verb, no parameters or directory; the result is not used:
  // a page the shell cannot open is the shell's and the browser's business.
  ShellExecuteA(nullptr, nullptr, target, nullptr, nullptr, SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace platform
