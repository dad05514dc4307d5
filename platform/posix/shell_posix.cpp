// The system's document opener off Windows: xdg-open, started detached.
//
// xdg-open is looked up on PATH before anything is started; when there is none, nothing
// happens. A first child starts xdg-open as a grandchild in a session of its own and
// exits at once, so the caller waits only for that short-lived child, leaves no zombie,
// and never waits for the browser. The grandchild's standard streams point at /dev/null
// and every other inherited descriptor is closed, so no browser holds on to a volume or
// image the engine has open. Between fork and exec only async-signal-safe calls are made.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/shell.h"

namespace platform {
namespace {

constexpr char kOpenerName[] = "xdg-open";

// Full path of an executable `name` in one of PATH's folders, or empty.
std::string FindOnPath(std::string_view name) {
  const char* pathVariable = std::getenv("PATH");
  std::string_view path = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = path.find(':');
    std::string folder(path.substr(0, colon));
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/" + std::string(name);
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    path.remove_prefix(colon + 1);
  }
}

int HighestDescriptorLimit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 65536) {
    return 65536;
  }
  return static_cast<int>(limit.rlim_cur);
}

// Closes every descriptor from `first` on. Async-signal-safe.
void CloseDescriptorsFrom(int first, int limit) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), ~0U, 0U) == 0) return;
#endif
  for (int fd = first; fd < limit; ++fd) close(fd);
}

}  // namespace

void OpenDocumentWithSystem(const char* target) {
  if (target == nullptr) return;
  const std::string program = FindOnPath(kOpenerName);
  if (program.empty()) return;
  std::string argument = target;
  std::string argument0 = kOpenerName;
  char* const argv[] = {argument0.data(), argument.data(), nullptr};
  const int limit = HighestDescriptorLimit();

  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    if (fork() == 0) {
      setsid();
      const int devNull = open("/dev/null", O_RDWR);
      if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
      }
      CloseDescriptorsFrom(3, limit);
      execv(program.c_str(), argv);
      _exit(127);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace platform
