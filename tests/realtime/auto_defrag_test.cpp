// The real-time defragmenter's rules: when runs start and stop, the pause, the day rule
// before a run, and the tip texts.
#include "auto_defrag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace realtime {
namespace {

constexpr std::int64_t kMinute = 60 * 1000;

// Local wall time of today at hh:mm.
std::time_t At(int hour, int minute) {
  std::time_t now = std::time(nullptr);
  std::tm local = *std::localtime(&now);
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

VexaWorkingStatus Status(std::int32_t state, char letter, std::int32_t position, std::int32_t range = 100) {
  VexaWorkingStatus status;
  std::memset(&status, 0, sizeof(status));
  status.state = state;
  status.letter = letter;
  status.progressRange = range;
  status.progressPosition = position;
  return status;
}

VolumeResult Ran(char letter, std::int64_t files, bool stopped = false) {
  VolumeResult result;
  result.letter = letter;
  result.ran = true;
  result.stopped = stopped;
  result.filesDefragmented = files;
  return result;
}

// A machine whose user last touched the keyboard at `lastInputMs` on a steady clock.
class AutoDefragTest : public ::testing::Test {
 protected:
  AutoDefragTest() : rules([this](char letter, std::time_t) { return due[letter]; }) {}

  Observation At(std::int64_t nowMs) {
    Observation o;
    o.nowMs = nowMs;
    o.wallTime = wallStart + nowMs / 1000;
    o.idleKnown = idleKnown;
    o.idleMs = nowMs - lastInputMs;
    o.onAcPower = onAc;
    o.otherJobRunning = otherJob;
    return o;
  }
  Command TickAt(std::int64_t nowMs) { return rules.Tick(At(nowMs)); }
  void Input(std::int64_t nowMs) { lastInputMs = nowMs; }
  // Ends the run at `nowMs` with the given results, the engine having found C and D.
  void EndRun(std::int64_t nowMs, std::initializer_list<VolumeResult> results) {
    for (const VolumeResult& r : results) {
      rules.VolumeStarted(r.letter);
      rules.VolumeFinished(r);
    }
    rules.RunEnded(At(nowMs), "CD", "");
  }

  std::map<char, bool> due{{'C', true}, {'D', true}};
  std::time_t wallStart = realtime::At(14, 0);
  std::int64_t lastInputMs = 0;
  bool idleKnown = true;
  bool onAc = true;
  bool otherJob = false;
  AutoDefrag rules;
};

TEST_F(AutoDefragTest, ARunStartsAfterTenIdleMinutesOnMainsPowerAndOncePerIdlePeriod) {
  EXPECT_EQ(TickAt(10 * kMinute - 1), Command::None);
  EXPECT_EQ(rules.TipText(), "Idle");
  EXPECT_EQ(rules.TickIntervalMs(), kWaitingTickMs);
  EXPECT_EQ(TickAt(10 * kMinute), Command::StartRun);
  EXPECT_TRUE(rules.Running());
  EXPECT_EQ(rules.TickIntervalMs(), kRunningTickMs);
  EXPECT_EQ(TickAt(10 * kMinute + 250), Command::None);  // no second start while it runs

  EndRun(12 * kMinute, {Ran('C', 12), Ran('D', 0)});
  EXPECT_FALSE(rules.Running());
  // The machine stays idle: this idle period has had its run.
  EXPECT_EQ(TickAt(40 * kMinute), Command::None);
  // Input, then ten more idle minutes: the next period's run.
  Input(41 * kMinute);
  EXPECT_EQ(TickAt(50 * kMinute), Command::None);
  EXPECT_EQ(TickAt(51 * kMinute), Command::StartRun);
}

TEST_F(AutoDefragTest, BatteryAnUnknownIdleTimeOrAnotherJobHoldTheRunBackWithinThePeriod) {
  onAc = false;
  EXPECT_EQ(TickAt(15 * kMinute), Command::None);
  onAc = true;
  idleKnown = false;  // a failed reading counts as a user at the keyboard
  EXPECT_EQ(TickAt(16 * kMinute), Command::None);
  idleKnown = true;
  otherJob = true;
  EXPECT_EQ(TickAt(17 * kMinute), Command::None);
  otherJob = false;
  EXPECT_EQ(TickAt(18 * kMinute), Command::StartRun);  // the same idle period, now free
}

TEST_F(AutoDefragTest, InputDuringARunStopsItAtTheNextTickAndTheNextRunWaitsForANewIdlePeriod) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  rules.VolumeStarted('C');
  EXPECT_EQ(TickAt(10 * kMinute + 250), Command::None);
  Input(10 * kMinute + 300);
  EXPECT_EQ(TickAt(10 * kMinute + 500), Command::StopRun);
  EXPECT_EQ(rules.TipText(), "Stopping");
  // Until the run has ended every tick asks again: a stop that fell between two
  // volumes must reach the next one.
  EXPECT_EQ(TickAt(10 * kMinute + 750), Command::StopRun);
  EndRun(10 * kMinute + 900, {Ran('C', 3, true)});
  EXPECT_EQ(rules.TipText(), "Last run: C: 3 files defragmented, stopped, 14:10");
  EXPECT_EQ(TickAt(15 * kMinute), Command::None);
  EXPECT_EQ(TickAt(20 * kMinute + 300), Command::StartRun);
}

TEST_F(AutoDefragTest, PowerGoingToBatteryDuringARunStopsIt) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  onAc = false;
  EXPECT_EQ(TickAt(11 * kMinute), Command::StopRun);
}

TEST_F(AutoDefragTest, PauseHoldsRunsForAnHourAndStopsARunningOne) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  // 14:20 on the wall clock: paused until 15:20.
  EXPECT_EQ(rules.Pause(At(20 * kMinute)), Command::StopRun);
  EndRun(21 * kMinute, {Ran('C', 1, true)});
  EXPECT_EQ(rules.TipText(), "Paused until 15:20");
  Input(30 * kMinute);
  EXPECT_EQ(TickAt(79 * kMinute), Command::None);  // idle long enough, still paused
  EXPECT_TRUE(rules.Paused());
  EXPECT_EQ(TickAt(80 * kMinute), Command::StartRun);
  EXPECT_FALSE(rules.Paused());

  // A second pause counts from its own time.
  EndRun(81 * kMinute, {Ran('C', 0)});
  EXPECT_EQ(rules.Pause(At(90 * kMinute)), Command::None);
  EXPECT_EQ(rules.Pause(At(100 * kMinute)), Command::None);
  EXPECT_EQ(rules.TipText(), "Paused until 16:40");
}

TEST_F(AutoDefragTest, AnIdlePeriodWhoseKnownVolumesAreAllRecentLoadsNoEngine) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);  // first run: the volumes are not known yet
  EndRun(11 * kMinute, {Ran('C', 5), Ran('D', 2)});
  due = {{'C', false}, {'D', false}};
  Input(12 * kMinute);
  EXPECT_EQ(TickAt(22 * kMinute), Command::None);
  due['D'] = true;  // a day later D is due again, in the same idle period: it waits for the next
  EXPECT_EQ(TickAt(23 * kMinute), Command::None);
  Input(24 * kMinute);
  EXPECT_EQ(TickAt(34 * kMinute), Command::StartRun);
}

TEST_F(AutoDefragTest, ARunTheEngineRefusedIsTriedAgainAMinuteLaterInTheSamePeriod) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  VolumeResult refused;
  refused.letter = 'C';
  EndRun(10 * kMinute + 1000, {refused});
  EXPECT_EQ(rules.TipText(), "Idle");  // nothing ran
  EXPECT_EQ(TickAt(10 * kMinute + 30000), Command::None);
  EXPECT_EQ(TickAt(11 * kMinute + 1000), Command::StartRun);
}

TEST_F(AutoDefragTest, ASolidStateDrivePassedOverIsNoRefusalAndTheRunIsNotRetried) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  VolumeResult passedOver;
  passedOver.letter = 'C';
  passedOver.solidState = true;
  EndRun(10 * kMinute + 1000, {passedOver});
  EXPECT_EQ(rules.TipText(), "Last run: C: passed over (solid-state drive), 14:10");
  EXPECT_EQ(TickAt(11 * kMinute + 1000), Command::None) << "the idle period had its run";
}

TEST_F(AutoDefragTest, TheTipFollowsTheEngineStatusDuringARun) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  EXPECT_EQ(rules.TipText(), "Defragmenting");
  rules.VolumeStarted('D');
  EXPECT_EQ(rules.TipText(), "Defragmenting D:");
  rules.Progress(Status(VEXA_STATE_ANALYSING, 'D', 12));
  EXPECT_EQ(rules.TipText(), "Scanning D: 12%");
  rules.Progress(Status(VEXA_STATE_DEFRAGMENTING, 'D', 40));
  EXPECT_EQ(rules.TipText(), "Defragmenting D: 40%");
  rules.Progress(Status(VEXA_STATE_DEFRAGMENTING, 'D', -1));  // used clusters 0
  EXPECT_EQ(rules.TipText(), "Defragmenting D: 0%");
  rules.Progress(Status(VEXA_STATE_DEFRAGMENTING, 'D', 130));  // the walk counted more than reported
  EXPECT_EQ(rules.TipText(), "Defragmenting D: 100%");
  rules.Progress(Status(VEXA_STATE_IDLE, 0, 1));  // between the two workers
  EXPECT_EQ(rules.TipText(), "Defragmenting D:");
}

TEST(AnotherJobHoldsTest, LooksAtTheJobLockAndGivesItBack) {
  platform::FakeJobLockSite site;
  platform::FakeJobLock ours(site);
  platform::FakeJobLock theirs(site);
  EXPECT_FALSE(AnotherJobHolds(ours));
  EXPECT_FALSE(AnotherJobHolds(ours));  // given back after the look: free again
  ASSERT_TRUE(theirs.TryLock());       // another process starts a job
  EXPECT_TRUE(AnotherJobHolds(ours));
  theirs.Unlock();
  EXPECT_FALSE(AnotherJobHolds(ours));
  EXPECT_TRUE(theirs.TryLock());       // our look left the lock free
}

TEST(RunSummaryTextTest, SaysPerVolumeWhatRanAndWhenTheRunEnded) {
  const std::time_t at = realtime::At(14, 2);
  EXPECT_EQ(RunSummaryText({Ran('C', 12)}, at), "C: 12 files defragmented, 14:02");
  EXPECT_EQ(RunSummaryText({Ran('C', 1)}, at), "C: 1 file defragmented, 14:02");
  EXPECT_EQ(RunSummaryText({Ran('C', 12), Ran('E', 0, true)}, at),
            "C: 12 files defragmented, E: 0 files defragmented, stopped, 14:02");
  VolumeResult full = Ran('D', -1);
  full.message = "Not enough disk space, volume D can not be defragged.";
  VolumeResult refused;
  refused.letter = 'E';
  EXPECT_EQ(RunSummaryText({full, refused, Ran('F', -1)}, at), "D: not enough free space, F: defragmented, 14:02");
  EXPECT_EQ(RunSummaryText({refused}, at), "");
  VolumeResult stoppedEarly;  // stopped during its analysis: no page
  stoppedEarly.letter = 'G';
  stoppedEarly.stopped = true;
  EXPECT_EQ(RunSummaryText({Ran('C', 4), stoppedEarly}, at), "C: 4 files defragmented, G: stopped, 14:02");
}

TEST_F(AutoDefragTest, AFailedLoadAndALongSummaryStillGiveOneShortTip) {
  ASSERT_EQ(TickAt(10 * kMinute), Command::StartRun);
  rules.RunEnded(At(10 * kMinute + 100), "", "cannot load vexa.dll");
  EXPECT_EQ(rules.TipText(), "Last run: cannot load vexa.dll, 14:10");

  Input(11 * kMinute);
  ASSERT_EQ(TickAt(21 * kMinute), Command::StartRun);
  for (char letter = 'C'; letter <= 'L'; ++letter) {
    rules.VolumeStarted(letter);
    rules.VolumeFinished(Ran(letter, 1000));
  }
  rules.RunEnded(At(22 * kMinute), "CDEFGHIJKL", "");
  const std::string tip = rules.TipText();
  EXPECT_EQ(tip.size(), 127u);
  EXPECT_EQ(tip.substr(0, 38), "Last run: C: 1000 files defragmented, ");
  EXPECT_EQ(tip.substr(124), "...");
}

}  // namespace
}  // namespace realtime
