// Where the engine library lives: its folder is the engine's working folder.
#pragma once

#include <string>

namespace platform {

// Full folder of the loaded engine library ("Vexa.dll" on Windows, the shared object
// holding this code elsewhere), ending with the platform's separator ('\' on Windows,
// '/' elsewhere); empty when it cannot be found. At most 260 characters are asked for
// on Windows, as the engine always has.
std::string EngineModuleFolder();

// The platform's path separator for files of the working folder.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

}  // namespace platform
