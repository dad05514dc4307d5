// The main window's job state: the two big buttons, the chooser, finished notices and
// closing.
#include "model/job_buttons.h"

namespace shell {
namespace {

bool Blank(const std::string& letters) { return letters.find_first_not_of(' ') == std::string::npos; }

}  // namespace

std::optional<JobKind> ChooserKind(std::string_view button) {
  if (button == "BtnQuickD") return JobKind::kDefragment;
  if (button == "BtnDepthD") return JobKind::kInDepth;
  return std::nullopt;
}

ButtonStep WindowShown(bool administrator) {
  ButtonStep step;
  if (!administrator) {
    step.message = kNotAdministrator;
    step.close = true;
  }
  return step;
}

ButtonStep JobButtons::Stop(int& marker) {
  // The button is idle at once; the engine stops when its worker next looks.
  marker = 0;
  jobs_.RequestStop();
  stoppingJob_ = jobs_.LastJob();
  stoppingAnalysis_ = &marker == &analyzeMarker_;
  ButtonStep step;
  step.progress = Progress::kHide;
  return step;
}

ButtonStep JobButtons::AnalyzeClicked(const std::string& letters) {
  if (defragMarker_ != 0) return {};
  if (analyzeMarker_ != 0) return Stop(analyzeMarker_);
  ButtonStep step;
  step.clearFiles = true;
  if (Blank(letters)) {
    step.message = kSelectToAnalyze;
  } else if (jobs_.ThreadsAlive()) {
    step.message = kStillStopping;
  } else {
    analyzeMarker_ = 2;
    if (jobs_.Start(JobKind::kAnalyse, letters)) {
      stoppingJob_ = 0;
      step.progress = Progress::kShow;
    } else {
      analyzeMarker_ = 0;
      step.message = kStillStopping;
    }
  }
  return step;
}

ButtonStep JobButtons::DefragmentClicked(const std::string& letters) {
  if (analyzeMarker_ != 0) return {};
  if (defragMarker_ != 0) return Stop(defragMarker_);
  ButtonStep step;
  step.clearFiles = true;
  if (Blank(letters)) {
    step.message = kSelectToDefrag;
  } else if (jobs_.ThreadsAlive()) {
    step.message = kStillStopping;
  } else {
    step.openChooser = true;
  }
  return step;
}

ButtonStep JobButtons::StartDefragmentation(JobKind kind, const std::string& letters) {
  ButtonStep step;
  if (JobRuns() || kind == JobKind::kAnalyse) return step;
  defragMarker_ = 2;
  if (jobs_.Start(kind, letters)) {
    stoppingJob_ = 0;
    step.progress = Progress::kShow;
  } else {
    defragMarker_ = 0;
    step.message = kStillStopping;
  }
  return step;
}

ButtonStep JobButtons::Finished(Notice notice, int job) {
  ButtonStep step;
  if (job != jobs_.LastJob()) return step;
  if (notice == Notice::kAnalysisFinished) {
    analyzeMarker_ = 0;
  } else if (notice == Notice::kDefragFinished) {
    defragMarker_ = 0;
  } else {
    return step;
  }
  stoppingJob_ = 0;
  step.progress = Progress::kHide;
  if (jobs_.LastJobRefused()) step.message = kRunsElsewhere;
  return step;
}

ButtonStep JobButtons::CloseClicked() const {
  ButtonStep step;
  if (JobRuns()) {
    step.message = kStopBeforeQuit;
  } else if (jobs_.ThreadsAlive()) {
    step.message = kStillStopping;
  } else {
    step.close = true;
  }
  return step;
}

StatusLine JobButtons::Status(const Display& display) const {
  if (const char* stopping = StoppingText()) return {stopping, "", "", 0};
  return {display.stateText, display.clusterText, display.fileText, display.progressLength};
}

const char* JobButtons::StoppingText() const {
  if (stoppingJob_ == 0) return nullptr;
  return stoppingAnalysis_ ? kStoppingAnalysis : kStoppingDefrag;
}

ButtonLook JobButtons::AnalyzeLook() const {
  return analyzeMarker_ != 0 ? ButtonLook{"StopAnalyze1", "StopAnalyze"} : ButtonLook{"BtnAnalyze1", "BtnAnalyze"};
}

ButtonLook JobButtons::DefragLook() const {
  return defragMarker_ != 0 ? ButtonLook{"StopDefragment1", "StopDefragment"}
                            : ButtonLook{"BtnDeframent1", "BtnDeframent"};
}

}  // namespace shell
