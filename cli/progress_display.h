// What the user sees while a job runs: one status line rewritten in place on a
// terminal, plain lines otherwise, and the notes and engine messages between them.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "status_texts.h"

namespace cli {

class ProgressDisplay {
 public:
  enum class Mode {
    kSilent,  // --quiet: no progress; notes and messages still go to standard error
    kLine,    // a terminal: one line rewritten in place
    kPlain,   // a file or pipe: a line per new state text and per ten percent
  };

  // `out` receives the progress (not owned); `columns` is the terminal width.
  ProgressDisplay(Mode mode, std::FILE* out, int columns);

  // Shows one poll's texts. False, showing nothing, while they name no working volume
  // (between workers, or before a worker names its volume). Polling thread.
  bool Show(const StatusTexts& texts);
  // Prints a line of its own on standard error ("vexa: " + text), below the status line.
  // Any thread.
  void Note(const std::string& text);
  // Ends the status line so that what follows starts on a fresh line. Any thread.
  void Finish();

  // The terminal status line for `texts` in `columns` columns: state text, bar, percent,
  // cluster text, and the file text shortened from the front to what is left. Exposed
  // for its width rule.
  static std::string StatusLine(const StatusTexts& texts, int columns);

 private:
  void ClearLineLocked();

  Mode mode_;
  std::FILE* out_;
  int columns_;
  std::mutex lock_;
  bool lineShown_ = false;
  std::string lastState_;
  int lastTenth_ = -1;
};

}  // namespace cli
