// Run-time library loading on POSIX systems: dlopen, dlsym, /proc/self/exe.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/library.h"

namespace platform {

LibraryHandle LoadSharedLibrary(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the library's symbols to itself; RTLD_NOW finds a missing export
  // now rather than in the middle of a job.
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = ::dlerror();
    *error = why != nullptr ? why : "cannot load " + path;
  }
  return library;
}

void* LibrarySymbol(LibraryHandle library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void UnloadSharedLibrary(LibraryHandle library) {
  if (library != nullptr) ::dlclose(library);
}

std::string ProgramPath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size() - 1) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string ProgramFolder() {
  const std::string path = ProgramPath();
  const auto cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool SetProcessEnvironment(const char* name, const char* value) {
  return ::setenv(name, value, 1) == 0;
}

}  // namespace platform
