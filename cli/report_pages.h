// Reading the engine's report pages back: the figures of a volume page's summary table
// and the rows of its detail tables, for the summary and --json.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

struct VolumePage {
  std::string path;
  // Label and value of every summary entry in page order, labels without the trailing
  // " :" ("Scanned files", "1204"); texts unescaped.
  std::vector<std::pair<std::string, std::string>> figures;
  // Cells of the rows of the details table (fragmented or defragmented files).
  std::vector<std::vector<std::string>> files;
  // Cells of the rows of the in-depth table; `hasOptimization` says whether the page has
  // that table at all.
  std::vector<std::vector<std::string>> optimizedFiles;
  bool hasOptimization = false;

  // The value of `label`, or empty.
  std::string Figure(const std::string& label) const;
};

// Parses the text of a volume page.
VolumePage ParseVolumePage(const std::string& html);

// When a page file was last written, or nullopt when there is none.
using PageStamp = std::optional<std::filesystem::file_time_type>;
PageStamp PageWriteTime(const std::string& path);

// Reads and parses the page at `path` when it exists and its write time differs from
// `before` (taken before the job), so a page left by an earlier run is never taken
// for this run's. Comparing the page's own times needs no clock shared with the file
// system. False otherwise.
[[nodiscard]] bool ReadVolumePageIfWritten(const std::string& path, const PageStamp& before, VolumePage* page);

// Undoes the engine's HTML escaping (&amp; &lt; &gt; &quot; &#39;).
std::string UnescapeHtml(const std::string& text);

}  // namespace cli
