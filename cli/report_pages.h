// Reading the engine's report pages back: the figures of a volume page's summary table
// and the rows of its detail tables, for the summary and --json.
#pragma once

#include <cstdint>
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

// Reads and parses the page at `path` when it exists and was written at or after
// `notBefore` (a time from std::filesystem::file_time_type::clock), so a page left by an
// earlier run is never taken for this run's. False otherwise.
[[nodiscard]] bool ReadVolumePageSince(const std::string& path, std::int64_t notBeforeTicks, VolumePage* page);

// `milliseconds` before now, in the ticks ReadVolumePageSince compares with. A little
// before the start of a job covers file systems whose time stamps lag the clock.
std::int64_t FileClockBefore(int milliseconds);

// Undoes the engine's HTML escaping (&amp; &lt; &gt; &quot; &#39;).
std::string UnescapeHtml(const std::string& text);

}  // namespace cli
