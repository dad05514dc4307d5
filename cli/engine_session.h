// Bringing up the engine for one run: the run's volume map, the checks that keep a job
// from starting on bad input, the engine library loaded after the map is in place, and
// the stop handlers.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"
#include "engine_api.h"
#include "progress_display.h"
#include "volume_setup.h"
#include "volume_state.h"

namespace cli {

class EngineSession {
 public:
  // Checks that the engine can save its files in `engineFolder`, maps `volumes` on top
  // of the volume map, checks every letter of `letters` (it must name a volume that
  // opens, and one that opens for writing when `needWritable`), loads the engine from
  // `engineFolder` and installs the stop handlers. Returns kExitDone, or the exit code to
  // end with after the problems have been printed to standard error; `refused` (when not
  // null) receives them too, by letter. The volume map's warnings are always printed;
  // notes (read-only volumes for an analysis) unless `quiet`. Main thread.
  int Open(const std::string& engineFolder, const std::vector<VolumeOption>& volumes, const std::string& letters,
           bool needWritable, bool quiet, std::vector<VolumeProblem>* refused = nullptr);

  // Before Open: a command that only reads (check) runs from an engine folder it may not
  // write; nothing of its work is saved there.
  void AllowReadOnlyFolder() { readOnlyFolder_ = true; }
  // Before Open: the command that would change the volumes (contig, put), named in the
  // refusal of a volume that cannot be changed instead of a defragmentation.
  void NameWriter(const std::string& command) { writer_ = command; }

  // Whether `letter` is served from an image file or device of the run's volume map.
  bool Mapped(char letter) const;
  // The lost space of a mapped volume of the run, as counted before the engine loaded
  // (after any reclaim); not known for other letters.
  LostSpace Lost(char letter) const;
  EngineSession() = default;
  ~EngineSession() { Close(); }
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // Unloads the engine (it saves its state); stop signals are only counted from then on.
  // Main thread, no job running.
  void Close();

  const EngineApi& Api() const { return library_.Api(); }

 private:
  EngineLibrary library_;
  std::vector<platform::VolumeMapEntry> map_;
  bool readOnlyFolder_ = false;
  std::string writer_;
  std::vector<std::pair<char, LostSpace>> lost_;
};

// The progress display for a run with these options: nothing with --quiet; on standard
// output (standard error with --json), a status line on a terminal, plain lines otherwise.
ProgressDisplay::Mode DisplayMode(const Options& options);
std::FILE* DisplayStream(const Options& options);
int DisplayColumns(const Options& options);

}  // namespace cli
