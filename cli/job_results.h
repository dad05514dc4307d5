// What one job left in the working folder, per volume: the analysis page and the
// defragmentation page written by this job, as a summary for people or JSON for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job_runner.h"
#include "report_pages.h"

namespace cli {

struct VolumeResult {
  char letter = 0;
  bool hasAnalysis = false;  // this job wrote the volume's analysis page
  VolumePage analysis;
  bool hasDefrag = false;    // this job wrote the volume's defragmentation page
  VolumePage defrag;
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

// One JSON object (one line, no line end) for one volume of a job.
std::string VolumeJson(const VolumeResult& result, JobKind kind, bool stopped);

// Lines of the summary for people, one or two per volume.
std::vector<std::string> SummaryLines(const VolumeResult& result, JobKind kind);

// The report entry page of a job kind in `folder`: what DLL_ShowReport opens.
std::string EntryPage(const std::string& folder, JobKind kind);

// A figure of a page as a number (0 when missing or not a number).
long long FigureNumber(const VolumePage& page, const std::string& label);

}  // namespace cli
