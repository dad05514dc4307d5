// The shell seam: handing a document or URL to the program the user has chosen for it.
#pragma once

#include <functional>

namespace platform {

// Opens `target` (a file URL, a web address or a document path; single-byte text) the
// way the desktop opens it: ShellExecuteA with the default verb and SW_SHOWNORMAL on
// Windows, a detached xdg-open elsewhere. Returns as soon as the request is handed on;
// whether the shell manages to open it is not reported, and a missing xdg-open means
// nothing happens. Any thread.
void OpenDocument(const char* target);

// Replaces what OpenDocument does, so a test can see the exact target instead of
// starting a browser; an empty function puts the system's opener back. Any thread,
// but meant for tests that set it before and clear it after the code under test.
using DocumentOpener = std::function<void(const char* target)>;
void SetDocumentOpener(DocumentOpener opener);

// The system's own opener, bypassing any replacement (what OpenDocument does by default).
void OpenDocumentWithSystem(const char* target);

}  // namespace platform
