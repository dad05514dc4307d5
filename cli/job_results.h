// What one job left in the working folder, per volume: the analysis page and the
// defragmentation page written by this job, as a summary for people or JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job_runner.h"
#include "left_fragmented.h"
#include "report_pages.h"
#include "volume_state.h"

namespace cli {

// A volume's sizes as the engine saw them when it loaded (DLL_GetVolumeInfo).
struct VolumeSizes {
  bool known = false;
  std::uint64_t totalBytes = 0;
  std::uint64_t usedBytes = 0;
  std::uint64_t freeBytes = 0;
};

struct VolumeResult {
  char letter = 0;
  std::string error;  // why the volume was not done (refused, too little space); empty when done
  VolumeSizes sizes;
  bool hasAnalysis = false;  // this job wrote the volume's analysis page
  VolumePage analysis;
  bool hasDefrag = false;    // this job wrote the volume's defragmentation page
  VolumePage defrag;
  bool leftKnown = false;    // a defragmentation went over the volume: `left` is its list
  std::vector<LeftFile> left;  // files still in more than one piece, and why
  LostSpace lost;            // clusters in use by no file, counted before the job
};

// Write times of the pages a job over `letters` may write in `folder` (page N is
// letter N of the job), taken before the job.
struct PageStamps {
  std::vector<PageStamp> analysis;
  std::vector<PageStamp> defrag;
};
PageStamps StampPages(const std::string& folder, const std::string& letters);

// Reads the pages of `letters` that the job wrote in `folder` since `before`.
std::vector<VolumeResult> CollectResults(const std::string& folder, const std::string& letters, JobKind kind,
                                         const PageStamps& before);

// One JSON object (one line, no line end) for one volume of a job: "error" holds
// result.error (null when empty); sizes are numbers of bytes, and every percentage of a
// page is given again as a number beside its text ("fragmentBeforePercent", null for
// "Low"), and an analysis adds its fragmented files as a count and a share of all files.
// A defragmentation adds "leftFragmented": the files still in pieces with the reason
// (null when the job never went over the volume). "lostClusters" and "lostBytes" count
// the clusters in use by no file (null when not known), "lostRemedy" says what frees them.
std::string VolumeJson(const VolumeResult& result, JobKind kind, bool stopped);

// Lines of the summary for people, one or two per volume. A volume without its
// defragmentation page is said to be not defragmented only when that is known: it was
// refused (result.error) or the job was stopped before it. Each file still in more than
// one piece after a defragmentation gets a line with the reason, and lost space a line
// with its remedy.
std::vector<std::string> SummaryLines(const VolumeResult& result, JobKind kind, bool stopped);

// The report entry page of a job kind in `folder`: what DLL_ShowReport opens.
std::string EntryPage(const std::string& folder, JobKind kind);

// A figure of a page as a number (0 when missing or not a number).
long long FigureNumber(const VolumePage& page, const std::string& label);

}  // namespace cli
