// DefragShell's start-up before the main window: the start-up settings, the splash and
// the update check, and the hosts of the maker's servers.
#pragma once

#include <windows.h>

#include <string>

namespace shell::win32 {

// Reads the start-up settings, shows the splash, runs the update check when it is
// switched on, and closes the splash 1000 ms later. False when the program should end
// (the updater was started). Main thread, before the main window exists.
bool RunStartup(HINSTANCE instance);

// The folder of DefragShell.exe, ending with "\".
std::string ProgramFolder();

// The web help's address: the build's help host, or the "HelpHost" value under the
// program's key.
std::string WebHelpAddress();

}  // namespace shell::win32
