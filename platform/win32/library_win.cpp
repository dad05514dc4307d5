// Run-time library loading on Windows: LoadLibraryA, GetProcAddress, GetModuleFileNameA.
#define NOMINMAX
#include <windows.h>

#include <stdlib.h>

#include "platform/library.h"

namespace platform {

LibraryHandle LoadSharedLibrary(const std::string& path, std::string* error) {
  HMODULE module = ::LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "cannot load " + path + " (Windows error " + std::to_string(::GetLastError()) + ")";
  }
  return reinterpret_cast<LibraryHandle>(module);
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(LibraryHandle library) {
  if (library != nullptr) ::FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string ProgramPath() {
  char name[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, name, MAX_PATH);
  // A full buffer means the name was cut; a folder cut from it would be wrong.
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(name, length);
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool SetProcessEnvironment(const char* name, const char* value) {
  // Both the process environment block and the C runtime's copy, so the library sees
  // the value whichever one it reads.
  if (!::SetEnvironmentVariableA(name, value)) return false;
  return ::_putenv_s(name, value) == 0;
}

}  // namespace platform
