// OpenDocument: the replaceable front of the shell seam; the system's opener lives in
// shell_win.cpp or shell_posix.cpp.
#include "platform/shell.h"

#include <mutex>
#include <utility>

namespace platform {
namespace {

std::mutex gOpenerMutex;
DocumentOpener gOpener;

}  // namespace

void SetDocumentOpener(DocumentOpener opener) {
  std::lock_guard lock(gOpenerMutex);
  gOpener = std::move(opener);
}

void OpenDocument(const char* target) {
  if (target == nullptr) return;
  DocumentOpener opener;
  {
    std::lock_guard lock(gOpenerMutex);
    opener = gOpener;
  }
  if (opener) {
    opener(target);
  } else {
    OpenDocumentWithSystem(target);
  }
}

}  // namespace platform
