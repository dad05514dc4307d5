// The job and polling threads against a scripted engine: notices, the report call, the
// after-job switches, stopping and the refusal of a new job while old threads live.
#include "model/job_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>
#include <vector>

namespace shell {
namespace {

// An engine whose job blocks until the test releases it (or it is stopped and released).
class ScriptedEngine final : public JobEngine {
 public:
  std::int32_t RunJob(JobKind kind, const char* letters) override {
    std::unique_lock<std::mutex> lock(m_);
    calls_.push_back(std::to_string(static_cast<int>(kind)) + ":" + letters);
    status_.state = static_cast<std::int32_t>(kind);
    status_.letter = letters[0];
    status_.progressRange = 100;
    status_.progressPosition = 50;
    released_.wait(lock, [&] { return release_; });
    release_ = false;
    status_.state = 0;
    return busyElsewhere.load() ? 0 : 1;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(m_);
    calls_.push_back("stop");
  }
  const VexaWorkingStatus* Status() override {
    std::lock_guard<std::mutex> lock(m_);
    std::memcpy(&copy_, &status_, sizeof copy_);
    return &copy_;
  }
  const std::int32_t* ColorTable(char letter) override {
    std::lock_guard<std::mutex> lock(m_);
    table_.fill(letter == 'E' ? 4 : 0);
    return table_.data();
  }
  void ShowReport(std::int32_t kind) override {
    std::lock_guard<std::mutex> lock(m_);
    calls_.push_back("report" + std::to_string(kind));
  }
  bool Logout() override { return logout.load(); }
  bool Restart() override { return restart.load(); }
  void SaveState() override {
    std::lock_guard<std::mutex> lock(m_);
    calls_.push_back("save");
  }

  void Release() {
    std::lock_guard<std::mutex> lock(m_);
    release_ = true;
    released_.notify_all();
  }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(m_);
    return calls_;
  }

  std::atomic<bool> logout{false};
  std::atomic<bool> restart{false};
  std::atomic<bool> busyElsewhere{false};  // RunJob answers 0: a job runs in another process

 private:
  std::mutex m_;
  std::condition_variable released_;
  bool release_ = false;
  std::vector<std::string> calls_;
  VexaWorkingStatus status_{};
  VexaWorkingStatus copy_{};
  ColorCopy table_{};
};

struct Recorder {
  explicit Recorder(ScriptedEngine& e) : engine(e) {}
  ScriptedEngine& engine;
  std::mutex m;
  std::vector<std::pair<Notice, int>> notices;
  std::vector<std::string> power;  // each request, with the engine's last call before it
  std::vector<std::string> statesSeen;

  std::string LastEngineCall() {
    const std::vector<std::string> calls = engine.Calls();
    return calls.empty() ? std::string() : calls.back();
  }

  JobHooks Hooks(JobRunner** runner) {
    return {[this, runner](Notice n, int job) {
              std::lock_guard<std::mutex> lock(m);
              notices.emplace_back(n, job);
              if (n == Notice::kStatus) statesSeen.push_back((*runner)->Snapshot().stateText);
            },
            [this](platform::PowerRequest request) {
              std::lock_guard<std::mutex> lock(m);
              power.push_back((request == platform::PowerRequest::kTurnOff ? "off after " : "restart after ") +
                              LastEngineCall());
            }};
  }
  int Count(Notice n) {
    std::lock_guard<std::mutex> lock(m);
    int count = 0;
    for (const auto& [notice, job] : notices) count += notice == n;
    return count;
  }
};

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// Windows' default timer: every sleep, however short, ends on the next 15.6 ms tick, and
// the clock reads in the same steps. Time stands still once `limitMs` is reached (the
// sleeps then yield for real), so the polls made by then can be counted.
class CoarseClock final : public PollClock {
 public:
  explicit CoarseClock(std::int64_t limitMs) : limitUs_(limitMs * 1000) {}
  std::int64_t NowMs() override { return nowUs_.load() / 1000; }
  void SleepMs(int ms) override {
    const std::int64_t now = nowUs_.load();
    if (now >= limitUs_) {
      reachedLimit.store(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return;
    }
    const std::int64_t wake = now + ms * 1000;
    nowUs_.store((wake + kTickUs - 1) / kTickUs * kTickUs);
  }
  std::atomic<bool> reachedLimit{false};

 private:
  static constexpr std::int64_t kTickUs = 15600;
  const std::int64_t limitUs_;
  std::atomic<std::int64_t> nowUs_{0};
};

class JobRunnerTest : public ::testing::Test {
 protected:
  void Make(PollTiming timing = PollTiming{5, 20}) {
    runner_ = std::make_unique<JobRunner>(engine_, recorder_.Hooks(&raw_), timing);
    raw_ = runner_.get();
  }
  void TearDown() override {
    engine_.Release();
    ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  }
  ScriptedEngine engine_;
  Recorder recorder_{engine_};
  std::unique_ptr<JobRunner> runner_;
  JobRunner* raw_ = nullptr;
};

TEST_F(JobRunnerTest, AnalysisPollsThenReportsAndNotifiesOnce) {
  engine_.logout = true;  // an analysis never ends the session
  engine_.restart = true;
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kAnalyse, "EC"));
  ASSERT_TRUE(WaitFor([&] { return recorder_.Count(Notice::kStatus) >= 3; }));
  EXPECT_EQ(runner_->Snapshot().progressLength, 300);
  EXPECT_EQ(runner_->Snapshot().drive, 'E');
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));

  EXPECT_EQ(engine_.Calls(), (std::vector<std::string>{"1:EC", "report1"}));
  EXPECT_EQ(recorder_.Count(Notice::kAnalysisFinished), 1);
  EXPECT_EQ(recorder_.Count(Notice::kDefragFinished), 0);
  EXPECT_TRUE(recorder_.power.empty());
  EXPECT_EQ(recorder_.statesSeen.front(), "Scanning  E drive.");
  // The final poll finds the engine idle: full bar, empty texts, colours of the last drive.
  const Display last = runner_->Snapshot();
  EXPECT_EQ(last.progressLength, 600);
  EXPECT_EQ(last.stateText, "");
  EXPECT_EQ(last.colors[999], 4);
  EXPECT_EQ(recorder_.notices.back().first, Notice::kMap);
  for (const auto& [notice, job] : recorder_.notices) EXPECT_EQ(job, 1);
}

TEST_F(JobRunnerTest, PollsAboutTwentyTimesASecondWhenEverySleepLastsATimerTick) {
  CoarseClock clock(1000);
  Make(PollTiming{51, 200, &clock});
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  ASSERT_TRUE(WaitFor([&] { return clock.reachedLimit.load(); }));
  // One simulated second at a 51 ms period: 19 polls (counting 51 sleeps would give 1).
  const int polls = recorder_.Count(Notice::kStatus);
  EXPECT_GE(polls, 18);
  EXPECT_LE(polls, 20);
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(recorder_.Count(Notice::kStatus), polls + 1) << "one final poll after the job";
}

TEST_F(JobRunnerTest, FinishedDefragmentationWithBothSwitchesOnlyTurnsOff) {
  engine_.logout = true;
  engine_.restart = true;
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kInDepth, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(engine_.Calls(), (std::vector<std::string>{"3:E", "report2", "save"}));
  EXPECT_EQ(recorder_.Count(Notice::kDefragFinished), 1);
  // The engine's state is saved before the session is asked to end; no restart request
  // follows the power-off.
  EXPECT_EQ(recorder_.power, (std::vector<std::string>{"off after save"}));
}

TEST_F(JobRunnerTest, FinishedDefragmentationWithTheRestartSwitchAloneRestarts) {
  engine_.restart = true;
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(engine_.Calls(), (std::vector<std::string>{"2:E", "report2", "save"}));
  EXPECT_EQ(recorder_.power, (std::vector<std::string>{"restart after save"}));
}

TEST_F(JobRunnerTest, EachSwitchAsksForItsOwnRequest) {
  Make();
  engine_.logout = true;
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(recorder_.power, (std::vector<std::string>{"off after save"}));

  engine_.logout = false;
  engine_.restart = true;
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(recorder_.power, (std::vector<std::string>{"off after save", "restart after save"}));
}

// The job thread's steps in order: the report, the finished notice, the running flag
// cleared, then the power requests.
TEST(JobRunnerOrder, ReportThenNoticeThenFlagThenPower) {
  ScriptedEngine engine;
  engine.logout = true;
  engine.restart = true;
  std::mutex m;
  std::vector<std::string> steps;
  JobRunner* runner = nullptr;
  JobHooks hooks{[&](Notice notice, int) {
                   if (notice != Notice::kDefragFinished) return;
                   std::lock_guard<std::mutex> lock(m);
                   steps.push_back("notice after " + engine.Calls().back() +
                                   (runner->JobRunning() ? ", running" : ", flag cleared"));
                 },
                 [&](platform::PowerRequest request) {
                   std::lock_guard<std::mutex> lock(m);
                   steps.push_back(std::string(request == platform::PowerRequest::kTurnOff ? "off" : "restart") +
                                   (runner->JobRunning() ? ", running" : ", flag cleared"));
                 }};
  JobRunner owned(engine, hooks, PollTiming{5, 20});
  runner = &owned;
  ASSERT_TRUE(owned.Start(JobKind::kDefragment, "E"));
  EXPECT_TRUE(owned.JobRunning());
  engine.Release();
  ASSERT_TRUE(WaitFor([&] { return !owned.ThreadsAlive(); }));
  EXPECT_FALSE(owned.JobRunning());
  // Both switches on: the power-off alone is asked for.
  EXPECT_EQ(steps, (std::vector<std::string>{"notice after report2, running", "off, flag cleared"}));
}

// Each job kind calls its own engine export.
std::int32_t VEXA_CALL Analyse(const char*) { return 1; }
std::int32_t VEXA_CALL Quick(const char*) { return 2; }
std::int32_t VEXA_CALL InDepth(const char*) { return 3; }

TEST(JobRunnerExports, EachKindCallsItsExport) {
  const JobExports exports{.analyse = Analyse, .quick = Quick, .inDepth = InDepth};
  EXPECT_EQ(ExportFor(JobKind::kAnalyse, exports)("E"), 1);
  EXPECT_EQ(ExportFor(JobKind::kDefragment, exports)("E"), 2);
  EXPECT_EQ(ExportFor(JobKind::kInDepth, exports)("E"), 3);
  EXPECT_EQ(ExportFor(static_cast<JobKind>(4), exports), nullptr);
}

TEST_F(JobRunnerTest, AJobRefusedForAnotherProcessOpensNoReportAndNeverEndsTheSession) {
  engine_.logout = true;
  engine_.busyElsewhere = true;
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(engine_.Calls(), (std::vector<std::string>{"2:E"})) << "no report of an earlier job is opened";
  EXPECT_EQ(recorder_.Count(Notice::kDefragFinished), 1) << "the window still learns that the job is over";
  EXPECT_TRUE(runner_->LastJobRefused());
  EXPECT_TRUE(recorder_.power.empty());

  // The next job that the engine runs is not marked.
  engine_.busyElsewhere = false;
  ASSERT_TRUE(runner_->Start(JobKind::kAnalyse, "E"));
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_FALSE(runner_->LastJobRefused());
}

TEST_F(JobRunnerTest, StoppedJobReportsButNeverEndsTheSession) {
  engine_.logout = true;
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "E"));
  ASSERT_TRUE(WaitFor([&] { return recorder_.Count(Notice::kStatus) >= 1; }));
  runner_->RequestStop();
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(engine_.Calls(), (std::vector<std::string>{"2:E", "stop", "report2"}));
  EXPECT_TRUE(recorder_.power.empty());
}

TEST_F(JobRunnerTest, NewJobIsRefusedUntilTheStoppedJobsThreadsHaveEnded) {
  Make();
  ASSERT_TRUE(runner_->Start(JobKind::kAnalyse, "E"));
  runner_->RequestStop();
  // The engine has not let go yet: the old job thread is still inside its call.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_TRUE(runner_->ThreadsAlive());
  EXPECT_FALSE(runner_->Start(JobKind::kAnalyse, "E"));
  EXPECT_EQ(runner_->LastJob(), 1);
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));

  ASSERT_TRUE(runner_->Start(JobKind::kDefragment, "C"));
  EXPECT_EQ(runner_->LastJob(), 2);
  ASSERT_TRUE(WaitFor([&] { return recorder_.Count(Notice::kStatus) >= 3; }));
  // The new job polls on: nothing of the old one ended it early.
  EXPECT_TRUE(runner_->ThreadsAlive());
  EXPECT_EQ(runner_->Snapshot().stateText, "Defragmenting  C drive.");
  engine_.Release();
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  int secondJobFinished = 0;
  for (const auto& [notice, job] : recorder_.notices) secondJobFinished += notice == Notice::kDefragFinished && job == 2;
  EXPECT_EQ(secondJobFinished, 1);
}

TEST_F(JobRunnerTest, AJobOverBeforeItsFirstPollStillShowsItsVolume) {
  Make();
  runner_->SetDrive('C');
  engine_.Release();  // the job returns as soon as it is called
  ASSERT_TRUE(runner_->Start(JobKind::kAnalyse, "EC"));
  ASSERT_TRUE(WaitFor([&] { return !runner_->ThreadsAlive(); }));
  EXPECT_EQ(runner_->Snapshot().drive, 'E');
  EXPECT_EQ(runner_->Snapshot().colors[0], 4);
  EXPECT_EQ(runner_->Snapshot().progressLength, 600);
}

TEST_F(JobRunnerTest, MainThreadColourRefreshCopiesTheTableAndNotifies) {
  Make();
  runner_->SetDrive('E');
  runner_->RefreshColors('E');
  EXPECT_EQ(runner_->Snapshot().colors[0], 4);
  EXPECT_EQ(runner_->Snapshot().drive, 'E');
  ASSERT_EQ(recorder_.notices.size(), 1u);
  EXPECT_EQ(recorder_.notices[0], std::make_pair(Notice::kMap, 0));
}

}  // namespace
}  // namespace shell
