// Processes off Windows: /proc for the look-up, a pidfd for ending a process it found
// (so a recycled id is never hit), and fork/exec for starting one.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/processes.h"

namespace platform {
namespace {

// File name of the program process `pid` runs: from its executable's link, or when that
// cannot be read (another user's process), from its first argument.
std::string ImageName(const std::string& pid) {
  char target[4096];
  const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
  std::string path;
  if (n > 0) {
    path.assign(target, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
  } else {
    const int fd = open(("/proc/" + pid + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const ssize_t got = read(fd, target, sizeof target - 1);
    close(fd);
    if (got <= 0) return {};
    path.assign(target, static_cast<std::size_t>(got));
    path = path.c_str();
  }
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The executable's full path of process `pid` ("" when unreadable).
std::string ImagePath(const std::string& pid) {
  char target[4096];
  const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// The start time of process `pid` in clock ticks since boot (field 22 of its stat), 0
// when unreadable.
std::uint64_t StartTime(const std::string& pid) {
  const int fd = open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[1024];
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return 0;
  text[got] = '\0';
  // The command name may hold blanks and parentheses: count fields after its last ')'.
  const char* field = std::strrchr(text, ')');
  if (field == nullptr) return 0;
  for (int index = 2; index < 22 && field != nullptr; ++index) field = std::strchr(field + 1, ' ');
  return field != nullptr ? std::strtoull(field + 1, nullptr, 10) : 0;
}

bool OwnedByMe(const std::string& pid) {
  struct stat info{};
  return stat(("/proc/" + pid).c_str(), &info) == 0 && info.st_uid == geteuid();
}

class PosixProcesses : public Processes {
 public:
  ProcessIdentity FindInSession(const std::string& imagePath) override {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return {};
    ProcessIdentity found;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || pid == static_cast<unsigned long>(self)) continue;
      if (!OwnedByMe(entry->d_name)) continue;
      const std::string path = ImagePath(entry->d_name);
      if (path.empty() || !SameNameIgnoringCase(path, imagePath)) continue;
      found = {static_cast<std::uint32_t>(pid), path, StartTime(entry->d_name)};
      break;
    }
    closedir(proc);
    return found;
  }

  bool EndGently(const ProcessIdentity& found, std::uint32_t closeWaitMs, std::uint32_t endWaitMs) override {
    if (found.id == 0) return false;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    // The pidfd pins the process: checked once it is held, its id cannot be recycled.
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(found.id), 0));
    if (handle < 0) return false;
    const std::string pid = std::to_string(found.id);
    bool ok = SameNameIgnoringCase(ImagePath(pid), found.imagePath) && StartTime(pid) == found.startTime;
    auto signalAndWait = [handle](int signal, std::uint32_t waitMs) {
      if (syscall(SYS_pidfd_send_signal, handle, signal, nullptr, 0) != 0) return false;
      pollfd wait{handle, POLLIN, 0};
      int ready;
      while ((ready = poll(&wait, 1, static_cast<int>(waitMs))) < 0 && errno == EINTR) {
      }
      return ready > 0;
    };
    if (ok && !signalAndWait(SIGTERM, closeWaitMs)) {
      ok = syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0;
      if (ok) signalAndWait(0, endWaitMs);
    }
    close(handle);
    return ok;
#else
    static_cast<void>(closeWaitMs);
    static_cast<void>(endWaitMs);
    return false;
#endif
  }

  std::uint32_t Find(const std::string& imageName) override {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    std::uint32_t found = 0;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || pid == static_cast<unsigned long>(self)) continue;
      if (SameNameIgnoringCase(ImageName(entry->d_name), imageName)) {
        found = static_cast<std::uint32_t>(pid);
        break;
      }
    }
    closedir(proc);
    return found;
  }

  bool EndByName(const std::string& imageName, std::uint32_t waitMs) override {
    const std::uint32_t pid = Find(imageName);
    if (pid == 0) return false;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    const int handle = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (handle >= 0) {
      const bool sent = syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0) == 0;
      if (sent) {
        pollfd wait{handle, POLLIN, 0};
        while (poll(&wait, 1, static_cast<int>(waitMs)) < 0 && errno == EINTR) {
        }
      }
      close(handle);
      return sent;
    }
#endif
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0) return false;
    for (std::uint32_t waited = 0; waited < waitMs && kill(static_cast<pid_t>(pid), 0) == 0; waited += 50) {
      SleepMs(50);
    }
    return true;
  }

  bool Start(const std::string& path, const std::string& folder) override {
    if (access(path.c_str(), X_OK) != 0) return false;
    std::string program = path;
    char* const argv[] = {program.data(), nullptr};
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
      // The grandchild runs the program in a session of its own; nobody waits for it.
      if (fork() == 0) {
        setsid();
        if (chdir(folder.c_str()) != 0) _exit(127);
        execv(program.c_str(), argv);
        _exit(127);
      }
      _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
  }

  std::uint64_t NowMs() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
  }

  void SleepMs(std::uint32_t ms) override {
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

Processes& SystemProcesses() {
  static PosixProcesses processes;
  return processes;
}

}  // namespace platform
