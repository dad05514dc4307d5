// Engine library folder on POSIX systems, found from this code's own address.
#include <dlfcn.h>

#include "platform/module.h"

namespace platform {

std::string EngineModuleFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&EngineModuleFolder), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::string path = info.dli_fname;
  const auto cut = path.rfind('/');
  if (cut == std::string::npos) return {};
  return path.substr(0, cut + 1);
}

}  // namespace platform
