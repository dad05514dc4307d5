// A handle of the machine that is closed on every way out of its scope.
#pragma once

#include "core/engine.h"
#include "platform/machine.h"

namespace vexa {

class FileHandle {
 public:
  explicit FileHandle(platform::Handle h) : handle_(h) {}
  ~FileHandle() {
    if (handle_ != platform::kInvalidHandle) gMachine->CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  platform::Handle Get() const { return handle_; }

 private:
  platform::Handle handle_;
};

}  // namespace vexa
