// Where the engine runs: the folder it is loaded from is its working folder, where it
// keeps its reports and state files.
//
// In a build tree and in a Windows installation the engine library sits beside the vexa
// program, and that folder is used as it is. An installed copy on Linux keeps the
// library in <prefix>/lib/<multiarch>/tolvane-disk-defrag/ and the delivered data files in
// <prefix>/share/tolvane-disk-defrag/, both read-only; each user then gets a working
// folder of their own ($XDG_DATA_HOME/tolvane-disk-defrag/, by default
// ~/.local/share/tolvane-disk-defrag/), made on first use, holding a copy of the library
// and of the data files, and the engine is loaded from there.
#pragma once

#include <string>

namespace cli {

// The installed engine library's folder, relative to the installation prefix.
#ifdef VEXA_INSTALL_ENGINE_DIR
inline constexpr const char* kInstalledEngineFolder = VEXA_INSTALL_ENGINE_DIR "/";
#else
inline constexpr const char* kInstalledEngineFolder = "lib/tolvane-disk-defrag/";
#endif

// The folders of one layout, each ending with '/' (or empty when not used).
struct EngineLayout {
  std::string engineFolder;     // where the engine is loaded from and writes its files
  std::string installedLibrary; // installed layout only: the read-only library folder
  std::string installedData;    // installed layout only: the read-only data folder
};

// The layout for a program in `programFolder` (ending with the separator), with the
// user's data folder taken from `xdgDataHome` and `home` (the environment's values; empty
// when unset). Changes nothing on disk. Any thread.
EngineLayout FindEngineLayout(const std::string& programFolder, const std::string& xdgDataHome,
                              const std::string& home);

// What became of the user folder PrepareEngineFolder made ready.
enum class PreparedFolder {
  kReady,
  kNotWritable,         // the folder, or a file in it, cannot be written: no job may run
                        // without its report pages and state
  kBrokenInstallation,  // an installed file cannot be read: the engine cannot start
};

// Makes the installed layout's user folder ready: creates it (mode 0700) when missing,
// copies the engine library and the delivered report files when they are missing or
// differ from the installed ones, and the preset and switch files ("preset.ini",
// "Setting") only when missing, since they hold the user's settings. Nothing is done for
// a layout that is not the installed one. Anything but kReady comes with *error saying
// what failed. Main thread, before the engine is loaded.
[[nodiscard]] PreparedFolder PrepareEngineFolder(const EngineLayout& layout, std::string* error);

}  // namespace cli
