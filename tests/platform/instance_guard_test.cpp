// One copy per user: the flock guard of this system and the fake.
#include "platform/instance_guard.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace platform {
namespace {

std::string UniqueName() { return "vexa-guard-test-" + std::to_string(::getpid()); }

// The lock files go to a folder of the test's own.
class InstanceGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  }

 private:
  vexa::test::TempDir dir_;
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(InstanceGuardTest, ASecondHoldFailsUntilTheFirstGuardGoes) {
  const std::string name = UniqueName();
  bool another = true;
  auto first = HoldUserInstance(name, &another);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(another);
  // flock locks belong to the open file, so a second open in this process conflicts
  // as another process's would.
  EXPECT_EQ(HoldUserInstance(name, &another), nullptr);
  EXPECT_TRUE(another);
  auto other = HoldUserInstance(name + "-other", &another);
  EXPECT_NE(other, nullptr);
  first.reset();
  EXPECT_NE(HoldUserInstance(name, &another), nullptr);
}

TEST_F(InstanceGuardTest, AnotherProcessIsRefusedWhileTheGuardIsHeld) {
  const std::string name = UniqueName() + "-fork";
  bool another = false;
  auto guard = HoldUserInstance(name, &another);
  ASSERT_NE(guard, nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    bool held = false;
    const bool refused = HoldUserInstance(name, &held) == nullptr && held;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(FakeInstanceGuardTest, HoldsNamesWithinTheProcess) {
  bool another = false;
  auto first = HoldFakeInstance("Tolvane VEXAAUTO", &another);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(HoldFakeInstance("Tolvane VEXAAUTO", &another), nullptr);
  EXPECT_TRUE(another);
  first.reset();
  EXPECT_NE(HoldFakeInstance("Tolvane VEXAAUTO", &another), nullptr);
  EXPECT_FALSE(another);
}

}  // namespace
}  // namespace platform
