// The POSIX document opener: a detached xdg-open found on PATH, or nothing at all.
#include "platform/shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Waits (up to a minute, so a broken opener fails instead of hanging) for a file to appear.
bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 1200 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path);
}

// Whether this process has any child, finished or not.
bool HasChildren() {
  errno = 0;
  return !(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

class ShellPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vexa-shell-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    setenv("PATH", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (fakeInstalled_) {
      std::ofstream(dir_ / "release");  // lets a waiting fake opener finish
      WaitForFile(dir_ / "finished");
    }
    setenv("PATH", savedPath_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A stand-in for xdg-open that records its argument and whether descriptor $WATCH_FD
  // reached it, then waits for the test to release it.
  void InstallFakeOpener() {
    const fs::path script = dir_ / "xdg-open";
    std::ofstream(script) << "#!/bin/sh\n"
                             "PATH=/usr/bin:/bin\n"
                             "d=\"$(dirname \"$0\")\"\n"
                             "printf '%s' \"$1\" > \"$d/argument.tmp\"\n"
                             "if [ -e /proc/$$/fd/$WATCH_FD ]; then echo open; else echo closed; fi > \"$d/fd\"\n"
                             "mv \"$d/argument.tmp\" \"$d/argument\"\n"
                             "i=0; while [ ! -e \"$d/release\" ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\n"
                             "touch \"$d/finished\"\n";
    fs::permissions(script, fs::perms::owner_all);
    fakeInstalled_ = true;
  }

  fs::path dir_;
  std::string savedPath_;
  bool fakeInstalled_ = false;
};

TEST_F(ShellPosixTest, HandsTheTargetToADetachedOpenerAndDoesNotWaitForIt) {
  InstallFakeOpener();
  const int watched = open("/dev/null", O_RDONLY);
  ASSERT_GE(watched, 3);
  setenv("WATCH_FD", std::to_string(watched).c_str(), 1);

  OpenDocumentWithSystem("file:///opt/my tools/vexa/analysisreport.html");

  // The call has returned while the opener still runs, and left no child behind.
  EXPECT_FALSE(HasChildren());
  ASSERT_TRUE(WaitForFile(dir_ / "argument"));
  EXPECT_FALSE(fs::exists(dir_ / "finished"));
  EXPECT_EQ(ReadFile(dir_ / "argument"), "file:///opt/my tools/vexa/analysisreport.html");
  EXPECT_EQ(ReadFile(dir_ / "fd"), "closed\n");
  close(watched);
  unsetenv("WATCH_FD");
}

TEST_F(ShellPosixTest, MissingOpenerDoesNothing) {
  OpenDocumentWithSystem("file:///tmp/analysisreport.html");
  EXPECT_FALSE(HasChildren());
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(ShellPosixTest, WithoutAReplacementOpenDocumentUsesTheSystemsOpener) {
  InstallFakeOpener();
  setenv("WATCH_FD", "999", 1);
  OpenDocument("file:///y/analysisreport.html");
  ASSERT_TRUE(WaitForFile(dir_ / "argument"));
  EXPECT_EQ(ReadFile(dir_ / "argument"), "file:///y/analysisreport.html");
  unsetenv("WATCH_FD");
}

}  // namespace
}  // namespace platform
