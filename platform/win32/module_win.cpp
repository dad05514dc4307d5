// Engine library folder on Windows: the folder of the loaded module "Vexa.dll".
#define NOMINMAX
#include <windows.h>

#include "platform/module.h"

namespace platform {

std::string EngineModuleFolder() {
  // The engine has always asked for at most 260 characters. When no module of that name
  // is loaded (the engine linked into a program), the handle is null and Windows names
  // the program's own file, which lives in the same folder.
  constexpr DWORD kNameSize = 260;
  char name[kNameSize + 1] = {};
  const DWORD length = GetModuleFileNameA(GetModuleHandleA("Vexa.dll"), name, kNameSize);
  // 0 is a failure; a full buffer means the name was cut, and a folder cut from a
  // partial name would send the engine's files elsewhere.
  if (length == 0 || length >= kNameSize) return {};
  std::string path(name, length);
  const auto cut = path.rfind('\\');
  if (cut == std::string::npos) return {};
  return path.substr(0, cut + 1);
}

}  // namespace platform
