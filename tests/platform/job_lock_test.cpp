// The machine-wide job lock on Linux: an flock on "joblock" that excludes other holders,
// in this process and in others, and that the kernel gives back when a holder dies.
#include "platform/job_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/temp_dir.h"

namespace platform {
namespace {

TEST(JobLockPosix, ExcludesOtherHoldersUntilGivenBack) {
  vexa::test::TempDir dir;
  auto first = CreateMachineJobLock(dir.Path());
  auto second = CreateMachineJobLock(dir.Path());
  ASSERT_TRUE(first->TryLock());
  EXPECT_FALSE(first->TryLock()) << "not re-entrant";
  EXPECT_FALSE(second->TryLock());
  first->Unlock();
  EXPECT_TRUE(second->TryLock());
  second->Unlock();
  // Another working folder is another lock file; a missing folder is no lock at all.
  vexa::test::TempDir other;
  EXPECT_TRUE(first->TryLock());
  EXPECT_TRUE(CreateMachineJobLock(other.Path())->TryLock());
  EXPECT_FALSE(CreateMachineJobLock(dir.Path() + "missing/")->TryLock());
}

TEST(JobLockPosix, AnotherProcessHoldsItUntilItEnds) {
  vexa::test::TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto lock = CreateMachineJobLock(dir.Path());
    const char taken = lock->TryLock() ? 'y' : 'n';
    (void)!::write(ready[1], &taken, 1);
    ::pause();  // holds the lock until killed
    ::_exit(0);
  }
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ASSERT_EQ(taken, 'y');
  auto lock = CreateMachineJobLock(dir.Path());
  EXPECT_FALSE(lock->TryLock());
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(lock->TryLock()) << "a holder that dies gives the lock back";
  ::close(ready[0]);
  ::close(ready[1]);
}

// A user who may not write the folder (check runs from a read-only engine folder) still
// takes the lock: by reading an existing lock file, which a job elsewhere holds, or with
// no file at all, which no job of the folder can be holding.
TEST(JobLockPosix, AFolderTheUserMayNotWriteStillLocks) {
  vexa::test::TempDir dir;
  auto holder = CreateMachineJobLock(dir.Path());
  ASSERT_TRUE(holder->TryLock());
  holder->Unlock();  // the lock file now exists
  vexa::test::TempDir empty;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  ASSERT_EQ(::chmod(empty.Path().c_str(), 0555), 0);
  ASSERT_TRUE(holder->TryLock());  // held by this process while the child tries
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(9);
    int code = 0;
    if (CreateMachineJobLock(dir.Path())->TryLock()) code |= 1;  // must fail: held
    auto fresh = CreateMachineJobLock(empty.Path());
    if (!fresh->TryLock()) code |= 2;                            // must succeed: no file
    if (fresh->TryLock()) code |= 4;                             // not re-entrant
    fresh->Unlock();
    if (!fresh->TryLock()) code |= 8;
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  holder->Unlock();
  ::chmod(dir.Path().c_str(), 0755);
  ::chmod(empty.Path().c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 took a held lock, 2 refused a folder without one, 4 re-entrant, 8 not given back";
}

}  // namespace
}  // namespace platform
