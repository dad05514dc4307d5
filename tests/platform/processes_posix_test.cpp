// Processes off Windows: found by their program's file name in /proc, ended through a
// pidfd with a bounded wait, started detached in a folder.
#include "platform/processes.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace platform {
namespace {

TEST(ProcessNames, CompareWithoutRegardToAsciiCase) {
  EXPECT_TRUE(SameNameIgnoringCase("VEXAAUTO.exe", "vexaauto.EXE"));
  EXPECT_FALSE(SameNameIgnoringCase("VEXAAUTO.exe", "VEXAAUTO.ex"));
  EXPECT_FALSE(SameNameIgnoringCase("VEXAAUTO.exe", "VEXAAUTO_exe"));
}

#ifndef _WIN32
TEST(PosixProcesses, FindsAProgramByItsFileNameAndEndsIt) {
  vexa::test::TempDir dir;
  const std::string program = dir.File("VEXAAUTO.exe");
  std::filesystem::copy_file("/bin/sleep", program);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(program.c_str(), "VEXAAUTO.exe", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  Processes& processes = SystemProcesses();
  std::uint32_t found = 0;
  for (int i = 0; i < 200 && found == 0; ++i) {
    found = processes.Find("vexaauto.EXE");
    if (found == 0) processes.SleepMs(10);
  }
  EXPECT_EQ(found, static_cast<std::uint32_t>(child));
  EXPECT_EQ(processes.Find("no-such-program"), 0u);

  const std::uint64_t before = processes.NowMs();
  EXPECT_TRUE(processes.EndByName("VEXAAUTO.exe", 3000));
  EXPECT_LT(processes.NowMs() - before, 3000u) << "the wait ends when the process does";
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_FALSE(processes.EndByName("VEXAAUTO.exe", 100)) << "nothing left to end";
}

TEST(PosixProcesses, FindsOursByFullPathAndEndsItOnlyWhileItIsTheOneFound) {
  vexa::test::TempDir dir;
  // Another name than the test above uses: run side by side, its look-up by name must
  // not find this copy.
  const std::string program = dir.File("RealTimeCopy.exe");
  std::filesystem::copy_file("/bin/sleep", program);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(program.c_str(), "RealTimeCopy.exe", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  Processes& processes = SystemProcesses();
  ProcessIdentity found;
  for (int i = 0; i < 200 && found.id == 0; ++i) {
    found = processes.FindInSession(std::filesystem::canonical(program).string());
    if (found.id == 0) processes.SleepMs(10);
  }
  ASSERT_EQ(found.id, static_cast<std::uint32_t>(child));
  EXPECT_NE(found.startTime, 0u);
  EXPECT_EQ(processes.FindInSession(dir.File("other") + "/RealTimeCopy.exe").id, 0u) << "same name, another folder";

  // A later process under the same id (another start time) is not touched.
  ProcessIdentity stale = found;
  stale.startTime += 1;
  EXPECT_FALSE(processes.EndGently(stale, 100, 100));
  EXPECT_EQ(kill(child, 0), 0) << "still running";

  EXPECT_TRUE(processes.EndGently(found, 3000, 3000));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << "asked to close, not killed";
}

TEST(PosixProcesses, StartsAProgramInItsFolder) {
  vexa::test::TempDir dir;
  const std::string script = dir.File("starter");
  vexa::test::WriteFile(script, "#!/bin/sh\npwd > started\n");
  chmod(script.c_str(), 0755);
  Processes& processes = SystemProcesses();
  ASSERT_TRUE(processes.Start(script, dir.Path()));
  for (int i = 0; i < 500 && !std::filesystem::exists(dir.File("started")); ++i) processes.SleepMs(10);
  std::string folder = dir.Path();
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  EXPECT_EQ(vexa::test::ReadFile(dir.File("started")), folder + "\n");
  EXPECT_FALSE(processes.Start(dir.File("missing"), dir.Path()));
}
#endif

}  // namespace
}  // namespace platform
