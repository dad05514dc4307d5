// The job exports' wait: woken by the job's last worker, never by the wait's bound.
#include "core/job_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/engine.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::JobTest;

constexpr std::uint32_t kCluster = 4096;

class JobWaitTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    auto& c = machine.AddVolume('C', "NTFS", 10000);
    c.AddFile("one.bin", kCluster, {{100, 1}});
    c.AddFile("two.bin", 3 * kCluster, {{200, 1}, {300, 1}, {400, 1}});
    Start();
    // An hour between looks at the slots: an export that depended on them, and not on
    // its job's end, would hang until the test run's timeout.
    gJobWaitMs = 3600 * 1000;
  }
};

TEST_F(JobWaitTest, ExportsReturnWhenTheirJobHasEndedAndNoWorkerIsLeft) {
  using Export = std::int32_t (*)(const char*);
  for (Export job : {Export{DLL_AnalyseVolume}, Export{DLL_DefragVolume}, Export{DLL_OptimizedDefragVolume}}) {
    EXPECT_EQ(job("C"), 1);
    EXPECT_FALSE(gJob.analysisRunning.load());
    EXPECT_FALSE(gJob.defragRunning.load());
    EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  }
  EXPECT_TRUE(HasPage("defragreporttop.html")) << "written before the export returned";
}

// Two threads start jobs over and over: a call either runs a whole job of its own or
// returns at once while the other's runs; every call returns, and each returns only
// when no worker is left of the job it started.
TEST_F(JobWaitTest, JobsStartedFromTwoThreadsNeverWaitForEachOther) {
  std::atomic<int> calls{0};
  auto loop = [&] {
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(DLL_DefragVolume("C"), 1);
      calls.fetch_add(1);
    }
  };
  std::thread other(loop);
  loop();
  other.join();
  EXPECT_EQ(calls.load(), 40);
  EXPECT_FALSE(gJob.analysisRunning.load());
  EXPECT_FALSE(gJob.defragRunning.load());
}

}  // namespace
}  // namespace vexa
