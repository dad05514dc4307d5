// The library-loading seam: loading the engine library at run time and naming its exports.
//
// The command-line program loads the engine only after it has prepared what the engine
// reads while loading (the volume map named by an environment variable), so it binds
// the engine at run time: dlopen/dlsym on POSIX systems, LoadLibraryA/GetProcAddress on
// Windows.
#pragma once

#include <string>

namespace platform {

// A loaded shared library; null when none. Owned by whoever loaded it.
using LibraryHandle = void*;

// Loads the shared library at `path` (a full path) and runs its load hooks. Returns
// null, with *error (never null) saying why, when it cannot be loaded. Any thread.
LibraryHandle LoadSharedLibrary(const std::string& path, std::string* error);

// The address of the export `name` (an undecorated name), or null when the library has
// none of that name. Any thread.
void* LibrarySymbol(LibraryHandle library, const char* name);

// Unloads a library loaded by LoadSharedLibrary; its unload hooks run when this was the
// last reference. Null is ignored. Call when no thread is inside the library.
void UnloadSharedLibrary(LibraryHandle library);

// The folder of the running program's file, ending with the platform's separator;
// empty when it cannot be found.
std::string ProgramFolder();
// The running program's file (/proc/self/exe resolved; GetModuleFileNameA on Windows);
// empty when it cannot be found.
std::string ProgramPath();

// File name of the engine library in its folder ("vexa.dll" on Windows, "libvexa.so"
// elsewhere).
#ifdef _WIN32
inline constexpr const char* kEngineLibraryName = "vexa.dll";
#else
inline constexpr const char* kEngineLibraryName = "libvexa.so";
#endif

// Sets the environment variable `name` to `value` for this process and for libraries it
// loads afterwards. False when the environment cannot be changed. Call before
// loading the library that reads it, from one thread.
[[nodiscard]] bool SetProcessEnvironment(const char* name, const char* value);

}  // namespace platform
