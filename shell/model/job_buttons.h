// What the main window's job buttons may do: which clicks start, stop or are refused
// (and with which text), what a finished notice does, what the close button and the
// chooser's buttons do, and which pictures the two big buttons show. The window asks
// and paints what it is told.
//
// Each big button carries a job marker, 0 when idle and 2 while its job runs; a job
// runs exactly while one marker is nonzero. Stop sets the marker back at once; the
// stopped job's threads may go on for a while inside the engine, and until its
// finished notice the status line says that the job is stopping and a new job, closing
// and map clicks are refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/job_runner.h"

namespace shell {

// The window's message texts, exactly.
inline constexpr char kSelectToAnalyze[] = "Please select the drive(s) that you want to Analyze.";
inline constexpr char kSelectToDefrag[] = "Please select the drive(s) that you want to defrag.";
inline constexpr char kStopBeforeQuit[] =
    "You are analyzing and cleaning up the drive(s),\r\nplease stop before you quit the process.";
inline constexpr char kNotAdministrator[] = "Please login with administrator pribileges and try again.";
inline constexpr char kStillStopping[] = "The previous job is still stopping. Please wait.";
inline constexpr char kRunsElsewhere[] = "Another defragmentation job is running on this computer.";
// The status line from Stop until the stopped job's finished notice.
inline constexpr char kStoppingAnalysis[] = "Stopping the analysis. Please wait...";
inline constexpr char kStoppingDefrag[] = "Stopping the defragmentation. Please wait...";

enum class Progress { kKeep, kShow, kHide };

// What the window does after a decision, in this order: empty the cell's file list;
// repaint both big buttons from their looks; show the progress bar (width 0) or hide
// it (status texts cleared); put StoppingText() in the status line when there is one;
// show `message` in a box; open the chooser; close the window.
struct ButtonStep {
  bool clearFiles = false;
  Progress progress = Progress::kKeep;
  const char* message = nullptr;
  bool openChooser = false;
  bool close = false;
};

// A button's pictures: the JPEG resource names shown normally and under the mouse.
struct ButtonLook {
  const char* normal;
  const char* highlighted;
};

// The job kind a chooser button starts, by the button's name: "BtnQuickD" the quick
// defragmentation (kind 2), "BtnDepthD" the in-depth one (kind 3); none for any other
// button (its close button starts nothing).
std::optional<JobKind> ChooserKind(std::string_view button);

// When the window is first shown: a user without administrator rights is told so and
// the window closes.
ButtonStep WindowShown(bool administrator);

// The three texts and the progress length the window shows on a status notice.
struct StatusLine {
  std::string state;
  std::string cluster;
  std::string file;
  int progressLength = 0;
};

// The window's job state. Main thread.
class JobButtons {
 public:
  explicit JobButtons(JobControl& jobs) : jobs_(jobs) {}

  // `letters` is the drive-letter string of the ticked rows.
  ButtonStep AnalyzeClicked(const std::string& letters);
  ButtonStep DefragmentClicked(const std::string& letters);
  // A kind chosen in the chooser; `letters` taken again from the list.
  ButtonStep StartDefragmentation(JobKind kind, const std::string& letters);
  // The analysis- or defragmentation-finished notice of job `job`; a notice of an
  // older job changes nothing.
  ButtonStep Finished(Notice notice, int job);
  ButtonStep CloseClicked() const;

  // What a status notice shows: the polled texts, or the stopping text while a stopped
  // job winds down.
  StatusLine Status(const Display& display) const;

  int AnalyzeMarker() const { return analyzeMarker_; }
  int DefragMarker() const { return defragMarker_; }
  ButtonLook AnalyzeLook() const;
  ButtonLook DefragLook() const;
  // A marker is set.
  bool JobRuns() const { return analyzeMarker_ != 0 || defragMarker_ != 0; }
  // A job runs or a stopped one has not ended: row and map clicks do nothing.
  bool Busy() const { return JobRuns() || jobs_.ThreadsAlive(); }
  // The status line of a stopped job that has not ended yet, else nullptr.
  const char* StoppingText() const;

 private:
  ButtonStep Stop(int& marker);

  JobControl& jobs_;
  int analyzeMarker_ = 0;
  int defragMarker_ = 0;
  int stoppingJob_ = 0;  // id of the stopped job until its finished notice
  bool stoppingAnalysis_ = false;
};

}  // namespace shell
