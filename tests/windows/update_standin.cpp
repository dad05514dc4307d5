// A stand-in for the maker's updater in the start-up tests: it records that it was
// started by writing "Update.started" beside itself, then ends.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  folder.erase(folder.find_last_of('\\') + 1);
  HANDLE file = ::CreateFileA((folder + "Update.started").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, "started\r\n", 9, &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
