// The main window's job state, row by row: which clicks start, stop or are refused and
// with which text, finished notices (a stale one changes nothing), the stopping status
// line, closing, the chooser's kinds and the administrator refusal.
#include "model/job_buttons.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace shell {
namespace {

// The jobs as the buttons see them: every call recorded, answers set by the test.
class FakeJobs final : public JobControl {
 public:
  bool Start(JobKind kind, const std::string& letters) override {
    calls.push_back("start " + std::to_string(static_cast<int>(kind)) + " " + letters);
    if (!startAccepted) return false;
    ++lastJob;
    return true;
  }
  void RequestStop() override { calls.push_back("stop"); }
  bool ThreadsAlive() const override { return threadsAlive; }
  bool LastJobRefused() const override { return refused; }
  int LastJob() const override { return lastJob; }

  std::vector<std::string> calls;
  bool startAccepted = true;
  bool threadsAlive = false;
  bool refused = false;
  int lastJob = 0;
};

std::string Text(const char* message) { return message == nullptr ? std::string("(none)") : std::string(message); }

bool Nothing(const ButtonStep& step) {
  return !step.clearFiles && step.progress == Progress::kKeep && step.message == nullptr && !step.openChooser &&
         !step.close;
}

class JobButtonsTest : public ::testing::Test {
 protected:
  // Starts an analysis over C and E, as a click with both rows ticked does.
  void StartAnalysis() {
    ASSERT_EQ(buttons_.AnalyzeClicked("CE").progress, Progress::kShow);
    ASSERT_EQ(buttons_.AnalyzeMarker(), 2);
  }
  void StartDefragmentation(JobKind kind) {
    ASSERT_TRUE(buttons_.DefragmentClicked("E").openChooser);
    ASSERT_EQ(buttons_.StartDefragmentation(kind, "E").progress, Progress::kShow);
    ASSERT_EQ(buttons_.DefragMarker(), 2);
  }
  FakeJobs jobs_;
  JobButtons buttons_{jobs_};
};

TEST_F(JobButtonsTest, AnalyzeStartsAnAnalysisOfTheTickedLetters) {
  const ButtonStep step = buttons_.AnalyzeClicked("CE");
  EXPECT_TRUE(step.clearFiles);
  EXPECT_EQ(step.progress, Progress::kShow);
  EXPECT_EQ(Text(step.message), "(none)");
  EXPECT_FALSE(step.openChooser);
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 1 CE"}));
  EXPECT_EQ(buttons_.AnalyzeMarker(), 2);
  EXPECT_EQ(buttons_.DefragMarker(), 0);
  EXPECT_STREQ(buttons_.AnalyzeLook().normal, "StopAnalyze1");
  EXPECT_STREQ(buttons_.AnalyzeLook().highlighted, "StopAnalyze");
  EXPECT_STREQ(buttons_.DefragLook().normal, "BtnDeframent1");
  EXPECT_TRUE(buttons_.JobRuns());
  EXPECT_TRUE(buttons_.Busy());
}

TEST_F(JobButtonsTest, NoTickedVolumeAsksTheUserToSelectOne) {
  for (const std::string letters : {"", "   "}) {
    const ButtonStep analyze = buttons_.AnalyzeClicked(letters);
    EXPECT_EQ(Text(analyze.message), "Please select the drive(s) that you want to Analyze.");
    EXPECT_TRUE(analyze.clearFiles);
    EXPECT_EQ(analyze.progress, Progress::kKeep);
    const ButtonStep defrag = buttons_.DefragmentClicked(letters);
    EXPECT_EQ(Text(defrag.message), "Please select the drive(s) that you want to defrag.");
    EXPECT_FALSE(defrag.openChooser);
  }
  EXPECT_TRUE(jobs_.calls.empty());
  EXPECT_FALSE(buttons_.JobRuns());
}

TEST_F(JobButtonsTest, DefragmentDoesNothingWhileAnAnalysisRuns) {
  StartAnalysis();
  EXPECT_TRUE(Nothing(buttons_.DefragmentClicked("CE")));
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 1 CE"})) << "neither a chooser, a start nor a stop";
  EXPECT_EQ(buttons_.AnalyzeMarker(), 2);
  EXPECT_EQ(buttons_.DefragMarker(), 0);
  EXPECT_STREQ(buttons_.DefragLook().normal, "BtnDeframent1");
}

TEST_F(JobButtonsTest, AnalyzeDoesNothingWhileADefragmentationRuns) {
  StartDefragmentation(JobKind::kDefragment);
  EXPECT_TRUE(Nothing(buttons_.AnalyzeClicked("CE")));
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 2 E"}));
  EXPECT_EQ(buttons_.DefragMarker(), 2);
  EXPECT_EQ(buttons_.AnalyzeMarker(), 0);
  EXPECT_STREQ(buttons_.AnalyzeLook().normal, "BtnAnalyze1");
}

TEST_F(JobButtonsTest, ChooserButtonsStartTheirKinds) {
  EXPECT_EQ(ChooserKind("BtnQuickD"), JobKind::kDefragment);
  EXPECT_EQ(static_cast<int>(*ChooserKind("BtnQuickD")), 2);
  EXPECT_EQ(ChooserKind("BtnDepthD"), JobKind::kInDepth);
  EXPECT_EQ(static_cast<int>(*ChooserKind("BtnDepthD")), 3);
  EXPECT_EQ(ChooserKind("CloseBtn"), std::nullopt);
  EXPECT_EQ(ChooserKind("Image1"), std::nullopt);

  // The quick kind reaches the jobs as kind 2, the in-depth kind as kind 3.
  StartDefragmentation(*ChooserKind("BtnQuickD"));
  EXPECT_STREQ(buttons_.DefragLook().normal, "StopDefragment1");
  EXPECT_STREQ(buttons_.DefragLook().highlighted, "StopDefragment");
  (void)buttons_.Finished(Notice::kDefragFinished, jobs_.lastJob);
  StartDefragmentation(*ChooserKind("BtnDepthD"));
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 2 E", "start 3 E"}));
}

TEST_F(JobButtonsTest, TheChoosersCloseButtonLeavesDefragmentIdle) {
  const ButtonStep step = buttons_.DefragmentClicked("E");
  EXPECT_TRUE(step.openChooser);
  EXPECT_TRUE(step.clearFiles);
  EXPECT_EQ(step.progress, Progress::kKeep) << "the bar shows only once a kind is chosen";
  // Closed without a choice: nothing more is asked of the buttons.
  EXPECT_TRUE(jobs_.calls.empty());
  EXPECT_EQ(buttons_.DefragMarker(), 0);
  EXPECT_FALSE(buttons_.JobRuns());
  EXPECT_TRUE(buttons_.CloseClicked().close);
}

TEST_F(JobButtonsTest, StopResetsThePictureAtOnceAndSaysTheJobIsStoppingUntilItsNotice) {
  StartAnalysis();
  const ButtonStep stop = buttons_.AnalyzeClicked("CE");
  EXPECT_EQ(stop.progress, Progress::kHide);
  EXPECT_FALSE(stop.clearFiles);
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 1 CE", "stop"}));
  EXPECT_EQ(buttons_.AnalyzeMarker(), 0);
  EXPECT_STREQ(buttons_.AnalyzeLook().normal, "BtnAnalyze1");
  EXPECT_STREQ(buttons_.AnalyzeLook().highlighted, "BtnAnalyze");
  EXPECT_FALSE(buttons_.JobRuns());

  // The engine has not let go yet: every status notice shows the stopping text.
  jobs_.threadsAlive = true;
  EXPECT_EQ(Text(buttons_.StoppingText()), "Stopping the analysis. Please wait...");
  Display polled;
  polled.stateText = "Scanning  C drive.";
  polled.progressLength = 300;
  const StatusLine line = buttons_.Status(polled);
  EXPECT_EQ(line.state, "Stopping the analysis. Please wait...");
  EXPECT_EQ(line.cluster, "");
  EXPECT_EQ(line.file, "");
  EXPECT_EQ(line.progressLength, 0);
  EXPECT_TRUE(buttons_.Busy());

  // Its finished notice ends the stopping text.
  jobs_.threadsAlive = false;
  const ButtonStep finished = buttons_.Finished(Notice::kAnalysisFinished, jobs_.lastJob);
  EXPECT_EQ(finished.progress, Progress::kHide);
  EXPECT_EQ(buttons_.StoppingText(), nullptr);
  EXPECT_EQ(buttons_.Status(polled).state, "Scanning  C drive.");
  EXPECT_EQ(buttons_.Status(polled).progressLength, 300);
  EXPECT_FALSE(buttons_.Busy());
}

TEST_F(JobButtonsTest, StoppingADefragmentationNamesIt) {
  StartDefragmentation(JobKind::kInDepth);
  EXPECT_EQ(buttons_.DefragmentClicked("E").progress, Progress::kHide);
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 3 E", "stop"}));
  EXPECT_STREQ(buttons_.DefragLook().normal, "BtnDeframent1");
  EXPECT_EQ(Text(buttons_.StoppingText()), "Stopping the defragmentation. Please wait...");
  (void)buttons_.Finished(Notice::kDefragFinished, jobs_.lastJob);
  EXPECT_EQ(buttons_.StoppingText(), nullptr);
}

TEST_F(JobButtonsTest, WhileAStoppedJobWindsDownNewJobsAndClosingAreRefused) {
  StartAnalysis();
  (void)buttons_.AnalyzeClicked("CE");
  jobs_.threadsAlive = true;
  for (const ButtonStep& step : {buttons_.AnalyzeClicked("CE"), buttons_.DefragmentClicked("CE")}) {
    EXPECT_EQ(Text(step.message), "The previous job is still stopping. Please wait.");
    EXPECT_FALSE(step.openChooser);
    EXPECT_EQ(step.progress, Progress::kKeep);
  }
  const ButtonStep close = buttons_.CloseClicked();
  EXPECT_EQ(Text(close.message), "The previous job is still stopping. Please wait.");
  EXPECT_FALSE(close.close);
  EXPECT_EQ(jobs_.calls, (std::vector<std::string>{"start 1 CE", "stop"}));
  EXPECT_EQ(buttons_.AnalyzeMarker(), 0);
}

TEST_F(JobButtonsTest, AStartTheJobsRefuseLeavesTheButtonIdle) {
  jobs_.startAccepted = false;
  const ButtonStep analyze = buttons_.AnalyzeClicked("C");
  EXPECT_EQ(Text(analyze.message), "The previous job is still stopping. Please wait.");
  EXPECT_EQ(analyze.progress, Progress::kKeep);
  EXPECT_EQ(buttons_.AnalyzeMarker(), 0);
  const ButtonStep defrag = buttons_.StartDefragmentation(JobKind::kDefragment, "C");
  EXPECT_EQ(Text(defrag.message), "The previous job is still stopping. Please wait.");
  EXPECT_EQ(buttons_.DefragMarker(), 0);
  EXPECT_STREQ(buttons_.DefragLook().normal, "BtnDeframent1");
}

TEST_F(JobButtonsTest, FinishedNoticeEndsItsJobAndAStaleOneChangesNothing) {
  StartAnalysis();
  (void)buttons_.AnalyzeClicked("CE");  // stop job 1
  (void)buttons_.Finished(Notice::kAnalysisFinished, 1);
  StartDefragmentation(JobKind::kDefragment);  // job 2
  ASSERT_EQ(jobs_.lastJob, 2);

  // A late notice of job 1 (of either kind) leaves job 2 running.
  EXPECT_TRUE(Nothing(buttons_.Finished(Notice::kAnalysisFinished, 1)));
  EXPECT_TRUE(Nothing(buttons_.Finished(Notice::kDefragFinished, 1)));
  EXPECT_EQ(buttons_.DefragMarker(), 2);
  EXPECT_STREQ(buttons_.DefragLook().normal, "StopDefragment1");
  // Status and map notices are not finished notices.
  EXPECT_TRUE(Nothing(buttons_.Finished(Notice::kStatus, 2)));
  EXPECT_EQ(buttons_.DefragMarker(), 2);

  const ButtonStep finished = buttons_.Finished(Notice::kDefragFinished, 2);
  EXPECT_EQ(finished.progress, Progress::kHide);
  EXPECT_EQ(Text(finished.message), "(none)");
  EXPECT_EQ(buttons_.DefragMarker(), 0);
  EXPECT_STREQ(buttons_.DefragLook().normal, "BtnDeframent1");
  EXPECT_STREQ(buttons_.DefragLook().highlighted, "BtnDeframent");
  EXPECT_FALSE(buttons_.JobRuns());
}

TEST_F(JobButtonsTest, AJobRefusedForAnotherProcessIsReportedOnItsNotice) {
  StartAnalysis();
  jobs_.refused = true;
  const ButtonStep finished = buttons_.Finished(Notice::kAnalysisFinished, jobs_.lastJob);
  EXPECT_EQ(Text(finished.message), "Another defragmentation job is running on this computer.");
  EXPECT_EQ(buttons_.AnalyzeMarker(), 0);
}

TEST_F(JobButtonsTest, CloseIsRefusedWhileAJobRuns) {
  StartDefragmentation(JobKind::kDefragment);
  const ButtonStep close = buttons_.CloseClicked();
  EXPECT_FALSE(close.close);
  EXPECT_EQ(Text(close.message),
            "You are analyzing and cleaning up the drive(s),\r\nplease stop before you quit the process.");
  (void)buttons_.Finished(Notice::kDefragFinished, jobs_.lastJob);
  const ButtonStep idle = buttons_.CloseClicked();
  EXPECT_TRUE(idle.close);
  EXPECT_EQ(idle.message, nullptr);
}

TEST(JobButtonsShown, AUserWithoutAdministratorRightsIsToldAndTheWindowCloses) {
  const ButtonStep refused = WindowShown(false);
  EXPECT_EQ(Text(refused.message), "Please login with administrator pribileges and try again.");
  EXPECT_TRUE(refused.close);
  EXPECT_TRUE(Nothing(WindowShown(true)));
}

}  // namespace
}  // namespace shell
