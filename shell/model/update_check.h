// The update check of start-up and the settings it reads: the "CheckUpdate" switch, the
// installed "Version", the hosts of the update server and of the web help, the version
// comparison and the reading of the downloaded "Update.ini".
//
// The decisions live here so they are tested natively; shell/win32/startup.cpp gives them
// the real download (platform/win32/http_win.cpp, WinINet), message box and program start.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace shell {

// DefragShell's key, under HKEY_CURRENT_USER for the user's switches and under
// HKEY_LOCAL_MACHINE for what only an administrator may set (the installed "Version",
// the server hosts). No leading backslash: the registry takes paths relative to the root.
inline constexpr char kProgramKey[] = "Software\\Tolvane Disk Defrag";
// Paths on the maker's servers.
inline constexpr char kUpdatePath[] = "/products/system-utility/tolvane-disk-defrag/update/Update.ini";
inline constexpr char kHelpPath[] = "/products/system-utility/tolvane-disk-defrag/help";
// How long the download may take: connecting, sending and reading, in ms.
inline constexpr int kUpdateTimeoutMs = 5000;
// The largest "Update.ini" taken: a larger body fails the check and leaves no file.
inline constexpr std::size_t kUpdateBodyLimit = 64 * 1024;

// Reads the start-up settings: creates the key when missing, writes "CheckUpdate" as "0"
// when it is missing or empty, and returns whether it is exactly "1". Main thread.
bool ReadCheckUpdateSwitch(platform::Registry& registry);

// The host (optionally "host:port") of the update server or of the web help: the string
// value `overrideValue` ("UpdateHost", "HelpHost") under the program's key of the machine
// when it is set and not empty, else the build's default. The user's key is never read:
// any program the user runs may write there, and the elevated DefragShell saves what the
// host sends into the program folder. Any thread.
std::string ConfiguredHost(platform::Registry& registry, const char* overrideValue, const std::string& buildDefault);

// The address of a path on a host: "http://" host path.
std::string HttpAddress(const std::string& host, const char* path);
// The same over TLS: "https://" host path.
std::string HttpsAddress(const std::string& host, const char* path);

// How the update server is reached, from the build settings: HTTPS (with the server's
// certificate checked) when `https`, plain HTTP when HTTPS is off or, after a failed
// HTTPS download, when `httpFallback`.
struct UpdateTransport {
  bool https = true;
  bool httpFallback = false;
};

// The addresses of `path` on `host` to try, in order.
std::vector<std::string> UpdateAddresses(const std::string& host, const char* path, UpdateTransport transport);

// Whether the downloaded version text is newer than the installed one: both split at
// "."; each part's leading digits read as a number (none: 0); a missing part counts as
// 0; the first part that differs decides. An empty downloaded text is never newer; an
// empty installed text is older than any downloaded text with a digit in it.
bool IsNewerVersion(const std::string& downloaded, const std::string& installed);

// The value of `key` in `section` of INI text (section and key names compared without
// regard to case, blanks around names and values dropped, CR LF or LF lines, a UTF-8 byte
// order mark passed over); empty when either is missing.
std::string IniValue(const std::string& text, const std::string& section, const std::string& key);

// What the check needs from the outside world; every member is required.
struct UpdateCheckSeams {
  // Downloads `address` into the file `path` (replacing it whole only on success; a failed,
  // timed-out or over-long download leaves no file behind). True on an HTTP 200 answer of
  // at most kUpdateBodyLimit bytes read whole.
  std::function<bool(const std::string& address, const std::string& path)> download;
  // The contents of a file ("" when it cannot be read).
  std::function<std::string(const std::string& path)> readFile;
  // Asks the update question; true for Yes.
  std::function<bool()> askToUpdate;
  // Starts the program at `path`; false when it could not be started.
  std::function<bool(const std::string& path)> startProgram;
  // Tells the user that the updater could not be started.
  std::function<void()> reportUpdaterMissing;
};

enum class UpdateOutcome {
  kNoUpdate,        // nothing newer, or the download failed: start-up goes on
  kDeclined,        // newer, the user said No: start-up goes on
  kUpdaterStarted,  // the user said Yes and "Update.exe" started: the program ends
  kUpdaterMissing,  // the user said Yes but "Update.exe" did not start: start-up goes on
};

// The update check: downloads "Update.ini" from `updateHost` into `programFolder` (ending
// with the separator) by the addresses `transport` allows, compares its [Version] Ver with
// the "Version" the installer wrote under the machine's key, asks, and starts
// "Update.exe" from `programFolder` on Yes. Main thread, during start-up.
UpdateOutcome RunUpdateCheck(platform::Registry& registry, const std::string& updateHost,
                             const std::string& programFolder, const UpdateCheckSeams& seams,
                             UpdateTransport transport = {});

// The update question's text.
inline constexpr char kUpdateQuestion[] =
    "A newer version of Tolvane Disk Defrag is available. Would you like to update now?";
inline constexpr char kUpdaterMissingText[] = "Update.exe could not be started.";

}  // namespace shell
