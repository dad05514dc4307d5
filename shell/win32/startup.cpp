// DefragShell's start-up: settings, splash, update check (see startup.h).
#include "win32/startup.h"

#include <shellapi.h>

#include <fstream>
#include <iterator>

#include "model/update_check.h"
#include "platform/http.h"
#include "platform/registry.h"
#include "win32/login_form.h"

#ifndef VEXA_UPDATE_HOST
#define VEXA_UPDATE_HOST "update.tolvane.example"
#endif
#ifndef VEXA_HELP_HOST
#define VEXA_HELP_HOST "www.tolvane.example"
#endif
#ifndef VEXA_UPDATE_HTTPS
#define VEXA_UPDATE_HTTPS 1
#endif
#ifndef VEXA_UPDATE_HTTP_FALLBACK
#define VEXA_UPDATE_HTTP_FALLBACK 0
#endif

namespace shell::win32 {
namespace {

constexpr char kTitle[] = "Tolvane Disk Defrag";

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::string ProgramFolder() {
  char path[MAX_PATH * 4] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length < sizeof path ? length : 0);
  const auto cut = folder.find_last_of('\\');
  return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

std::string WebHelpAddress() {
  const std::string host = ConfiguredHost(platform::CurrentRegistry(), "HelpHost", VEXA_HELP_HOST);
  return HttpAddress(host, kHelpPath);
}

bool RunStartup(HINSTANCE instance) {
  platform::Registry& registry = platform::CurrentRegistry();
  const bool checkUpdate = ReadCheckUpdateSwitch(registry);
  HWND splash = ShowSplash(instance);
  UpdateOutcome outcome = UpdateOutcome::kNoUpdate;
  if (checkUpdate) {
    UpdateCheckSeams seams;
    seams.download = [](const std::string& address, const std::string& path) {
      return platform::DownloadToFile(address, path, kUpdateTimeoutMs, kUpdateBodyLimit);
    };
    seams.readFile = ReadWholeFile;
    seams.askToUpdate = [splash] {
      return ::MessageBoxA(splash, kUpdateQuestion, kTitle, MB_YESNO | MB_ICONINFORMATION) == IDYES;
    };
    seams.startProgram = [](const std::string& path) {
      const auto result = reinterpret_cast<INT_PTR>(
          ::ShellExecuteA(nullptr, "open", path.c_str(), "", "", SW_SHOWNORMAL));
      return result > 32;
    };
    seams.reportUpdaterMissing = [splash] { ::MessageBoxA(splash, kUpdaterMissingText, kTitle, MB_OK); };
    UpdateTransport transport;
    transport.https = VEXA_UPDATE_HTTPS != 0;
    transport.httpFallback = VEXA_UPDATE_HTTP_FALLBACK != 0;
    outcome = RunUpdateCheck(registry, ConfiguredHost(registry, "UpdateHost", VEXA_UPDATE_HOST), ProgramFolder(), seams,
                             transport);
  }
  if (outcome == UpdateOutcome::kUpdaterStarted) {
    if (splash != nullptr) ::DestroyWindow(splash);
    return false;
  }
  CloseSplashAfter(splash, 1000);
  return true;
}

}  // namespace shell::win32
