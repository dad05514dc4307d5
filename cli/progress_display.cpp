// The status line and plain progress lines.
#include "progress_display.h"

namespace cli {
namespace {

// A narrow terminal gets a shorter bar, leaving room for the texts.
int BarCells(int columns) { return columns >= 120 ? 20 : 10; }

std::string Bar(int progressLength, int cells) {
  const int filled = progressLength * cells / kProgressFull;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(cells - filled), '-') + "]";
}

std::string Percent(int progressLength) {
  std::string text = std::to_string(progressLength * 100 / kProgressFull) + "%";
  return std::string(text.size() < 4 ? 4 - text.size() : 0, ' ') + text;
}

}  // namespace

ProgressDisplay::ProgressDisplay(Mode mode, std::FILE* out, int columns)
    : mode_(mode), out_(out), columns_(columns < 20 ? 20 : columns) {}

std::string ProgressDisplay::StatusLine(const StatusTexts& texts, int columns) {
  // The last column stays empty: writing it makes some terminals wrap at once.
  const std::size_t width = static_cast<std::size_t>(columns > 1 ? columns - 1 : 1);
  std::string line =
      texts.stateText + " " + Bar(texts.progressLength, BarCells(columns)) + " " + Percent(texts.progressLength);
  if (!texts.clusterText.empty()) line += "  " + texts.clusterText;
  if (line.size() > width) return line.substr(0, width);
  if (!texts.fileText.empty() && line.size() + 2 < width) {
    const std::size_t room = width - line.size() - 2;
    std::string file = texts.fileText;
    if (file.size() > room) {
      // Keep the end of the name, which tells files apart.
      file = room > 3 ? "..." + file.substr(file.size() - (room - 3)) : std::string();
    }
    if (!file.empty()) line += "  " + file;
  }
  return line;
}

void ProgressDisplay::ClearLineLocked() {
  if (!lineShown_) return;
  std::fprintf(out_, "\r%s\r", std::string(static_cast<std::size_t>(columns_ - 1), ' ').c_str());
  std::fflush(out_);
  lineShown_ = false;
}

bool ProgressDisplay::Show(const StatusTexts& texts) {
  // Between workers, or a worker that has not named its volume yet: keep what is shown.
  if (texts.state == VEXA_STATE_IDLE || texts.letter == 0) return false;
  std::lock_guard<std::mutex> guard(lock_);
  if (mode_ == Mode::kLine) {
    const std::string line = StatusLine(texts, columns_);
    std::fprintf(out_, "\r%s%s", line.c_str(),
                 std::string(static_cast<std::size_t>(columns_ - 1) - line.size(), ' ').c_str());
    std::fflush(out_);
    lineShown_ = true;
  } else if (mode_ == Mode::kPlain) {
    const int tenth = texts.progressLength * 10 / kProgressFull;
    if (texts.stateText == lastState_ && tenth == lastTenth_) return true;
    lastState_ = texts.stateText;
    lastTenth_ = tenth;
    std::fprintf(out_, "%s %s\n", texts.stateText.c_str(), Percent(texts.progressLength).c_str());
    std::fflush(out_);
  }
  return true;
}

void ProgressDisplay::Note(const std::string& text) {
  std::lock_guard<std::mutex> guard(lock_);
  ClearLineLocked();
  std::fflush(out_);
  std::fprintf(stderr, "vexa: %s\n", text.c_str());
  std::fflush(stderr);
}

void ProgressDisplay::Finish() {
  std::lock_guard<std::mutex> guard(lock_);
  ClearLineLocked();
}

}  // namespace cli
