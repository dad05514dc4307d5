// The system's idle readings elsewhere: the newest access time of the terminals (what
// `w` shows as idle time) and the mains supplies under /sys/class/power_supply.
#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <string>

#include "platform/idle.h"
#include "platform/idle_posix.h"

namespace platform {
namespace {

// Newest access time, in milliseconds since 1970, of the entries of `folder` whose
// names start with `prefix`; 0 when there is none.
std::int64_t NewestAccess(const std::string& folder, const std::string& prefix) {
  std::int64_t newest = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name.rfind(prefix, 0) != 0) continue;
    struct stat info;
    if (::stat((folder + "/" + name).c_str(), &info) != 0) continue;
    const std::int64_t ms =
        static_cast<std::int64_t>(info.st_atim.tv_sec) * 1000 + info.st_atim.tv_nsec / 1000000;
    if (ms > newest) newest = ms;
  }
  ::closedir(dir);
  return newest;
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

class SystemIdleSource : public IdleSource {
 public:
  bool Read(IdleReading* reading) override {
    std::int64_t last = NewestAccess("/dev/pts", "");
    const std::int64_t tty = NewestAccess("/dev", "tty");
    if (tty > last) last = tty;
    if (last == 0) return false;
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t nowMs = static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    reading->idleMilliseconds = nowMs > last ? nowMs - last : 0;
    reading->onAcPower = OnAcPowerIn("/sys/class/power_supply");
    return true;
  }
};

}  // namespace

bool OnAcPowerIn(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return true;
  bool anyMains = false;
  bool mainsOnline = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (FirstLine(folder + "/" + name + "/type") != "Mains") continue;
    anyMains = true;
    if (FirstLine(folder + "/" + name + "/online") == "1") mainsOnline = true;
  }
  ::closedir(dir);
  // No mains supply listed at all: a desktop or a server, which has no battery either.
  return !anyMains || mainsOnline;
}

std::unique_ptr<IdleSource> MakeSystemIdleSource() { return std::make_unique<SystemIdleSource>(); }

}  // namespace platform
