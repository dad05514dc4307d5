// Results of a job from its report pages.
#include "job_results.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "json_text.h"

namespace cli {
namespace {

struct FigureKey {
  const char* label;
  const char* key;
};
// Page labels and the JSON names of their figures.
constexpr FigureKey kFigureKeys[] = {
    {"Target volume", "targetVolume"},   {"File system", "fileSystem"},
    {"Size", "size"},                    {"Total clusters", "totalClusters"},
    {"Used", "used"},                    {"Used clusters", "usedClusters"},
    {"Scanned directories", "scannedDirectories"}, {"Byte per cluster", "bytesPerCluster"},
    {"Scanned files", "scannedFiles"},   {"Starting time", "startingTime"},
    {"Small Fragment files", "smallFragmentFiles"}, {"Finishing time", "finishingTime"},
    {"Big Fragment files", "bigFragmentFiles"}, {"Used time", "usedTime"},
    {"Report", "verdict"},               {"Defragged files", "defraggedFiles"},
    {"Fragment before", "fragmentBefore"}, {"Fragment now", "fragmentNow"},
};

// A label the table above does not know, in the same style: "Some label" -> "someLabel".
std::string KeyOf(const std::string& label) {
  for (const FigureKey& k : kFigureKeys) {
    if (label == k.label) return k.key;
  }
  std::string key;
  bool upper = false;
  for (char c : label) {
    if (!std::isalnum(static_cast<unsigned char>(c))) {
      upper = !key.empty();
      continue;
    }
    key += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                 : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    upper = false;
  }
  return key;
}

std::string Cell(const std::vector<std::string>& cells, std::size_t i) { return i < cells.size() ? cells[i] : std::string(); }

std::string RowsJson(const std::vector<std::vector<std::string>>& rows, const std::vector<const char*>& names,
                     const std::vector<bool>& numeric) {
  std::string out = "[";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) out += ',';
    out += '{';
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ',';
      out += JsonString(names[i]) + ':' + (numeric[i] ? JsonNumberOrString(Cell(rows[r], i)) : JsonString(Cell(rows[r], i)));
    }
    out += '}';
  }
  return out + "]";
}

// The number of a percentage text ("12.34%", " 0.00%"), as JSON; empty when it is none.
std::string PercentNumber(const std::string& text) {
  std::size_t begin = text.find_first_not_of(' ');
  std::size_t end = text.find_last_not_of(' ');
  if (begin == std::string::npos || text[end] != '%') return "";
  const std::string number = text.substr(begin, end - begin);
  bool digits = false;
  bool point = false;
  for (std::size_t i = 0; i < number.size(); ++i) {
    const char c = number[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point && digits && i + 1 < number.size()) {
      point = true;
    } else {
      return "";
    }
  }
  if (!digits) return "";
  // JSON numbers have no leading zeros: "007.5" reads as 7.5.
  std::size_t lead = 0;
  while (lead + 1 < number.size() && number[lead] == '0' && number[lead + 1] != '.') ++lead;
  return number.substr(lead);
}

std::string PageJson(const VolumePage& page, bool defrag) {
  std::string out = "{\"page\":" + JsonString(page.path);
  for (const auto& [label, value] : page.figures) {
    out += "," + JsonString(KeyOf(label)) + ":" + JsonNumberOrString(value);
    // The fragmentation texts ("12.30%", or "Low" where the engine gives no number) get
    // their number beside them; null where there is none.
    const std::string percent = PercentNumber(value);
    const bool fragmentation = label == "Fragment before" || label == "Fragment now";
    if (!percent.empty() || fragmentation) {
      out += "," + JsonString(KeyOf(label) + "Percent") + ":" + (percent.empty() ? std::string("null") : percent);
    }
  }
  if (!defrag) {
    // The share of files in more than one piece, as a number beside the verdict text.
    const long long scanned = FigureNumber(page, "Scanned files");
    const long long fragmented = FigureNumber(page, "Small Fragment files") + FigureNumber(page, "Big Fragment files");
    out += ",\"fragmentedFiles\":" + std::to_string(fragmented);
    char share[32];
    std::snprintf(share, sizeof share, "%.2f", scanned > 0 ? 100.0 * static_cast<double>(fragmented) / scanned : 0.0);
    out += std::string(",\"fragmentedFilesPercent\":") + share;
  }
  if (defrag) {
    out += ",\"files\":" + RowsJson(page.files, {"path", "fragmentsBefore", "size", "clusters", "fragmentsNow"},
                                    {false, true, false, true, true});
    out += ",\"optimizedFiles\":";
    out += page.hasOptimization
               ? RowsJson(page.optimizedFiles, {"path", "locationBefore", "locationNow", "state"}, {false, false, false, false})
               : std::string("null");
  } else {
    out += ",\"files\":" + RowsJson(page.files, {"path", "fragments", "size", "clusters", "advice"},
                                    {false, true, false, true, false});
  }
  return out + "}";
}

const char* CommandName(JobKind kind) {
  switch (kind) {
    case JobKind::kAnalyse:
      return "analyze";
    case JobKind::kDefrag:
      return "defrag";
    case JobKind::kOptimize:
      return "optimize";
  }
  return "";
}

std::string VolumePageName(const std::string& folder, const char* stem, std::size_t number) {
  return folder + stem + std::to_string(number) + ".html";
}

}  // namespace

long long FigureNumber(const VolumePage& page, const std::string& label) {
  return std::atoll(page.Figure(label).c_str());
}

PageStamps StampPages(const std::string& folder, const std::string& letters) {
  PageStamps stamps;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    stamps.analysis.push_back(PageWriteTime(VolumePageName(folder, "analysisreport", i + 1)));
    stamps.defrag.push_back(PageWriteTime(VolumePageName(folder, "defragreport", i + 1)));
  }
  return stamps;
}

std::vector<VolumeResult> CollectResults(const std::string& folder, const std::string& letters, JobKind kind,
                                         const PageStamps& before) {
  std::vector<VolumeResult> results;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    VolumeResult result;
    result.letter = letters[i];
    result.hasAnalysis =
        ReadVolumePageIfWritten(VolumePageName(folder, "analysisreport", i + 1), before.analysis[i], &result.analysis);
    if (kind != JobKind::kAnalyse) {
      result.hasDefrag =
          ReadVolumePageIfWritten(VolumePageName(folder, "defragreport", i + 1), before.defrag[i], &result.defrag);
    }
    results.push_back(std::move(result));
  }
  return results;
}

std::string VolumeJson(const VolumeResult& result, JobKind kind, bool stopped) {
  std::string out = "{\"volume\":" + JsonString(std::string(1, result.letter));
  out += ",\"command\":" + JsonString(CommandName(kind));
  out += std::string(",\"stopped\":") + (stopped ? "true" : "false");
  out += ",\"error\":" + (result.error.empty() ? std::string("null") : JsonString(result.error));
  if (result.sizes.known) {
    out += ",\"sizeBytes\":" + std::to_string(result.sizes.totalBytes);
    out += ",\"usedBytes\":" + std::to_string(result.sizes.usedBytes);
    out += ",\"freeBytes\":" + std::to_string(result.sizes.freeBytes);
  }
  if (result.lost.known) {
    out += ",\"lostClusters\":" + std::to_string(result.lost.clusters);
    out += ",\"lostBytes\":" + std::to_string(result.lost.bytes);
    const std::string line = LostSpaceLine(result.letter, result.lost);
    out += ",\"lostRemedy\":" + (line.empty() ? std::string("null") : JsonString(line.substr(line.find("; ") + 2)));
  } else {
    out += ",\"lostClusters\":null,\"lostBytes\":null,\"lostRemedy\":null";
  }
  out += ",\"analysis\":" + (result.hasAnalysis ? PageJson(result.analysis, false) : std::string("null"));
  out += ",\"defragmentation\":" + (result.hasDefrag ? PageJson(result.defrag, true) : std::string("null"));
  if (kind != JobKind::kAnalyse) {
    out += ",\"leftFragmented\":";
    if (result.leftKnown) {
      out += '[';
      for (std::size_t i = 0; i < result.left.size(); ++i) out += (i > 0 ? "," : "") + LeftFileJson(result.left[i]);
      out += ']';
    } else {
      out += "null";
    }
  }
  return out + "}";
}

std::vector<std::string> SummaryLines(const VolumeResult& result, JobKind kind, bool stopped) {
  std::vector<std::string> lines;
  const std::string volume = std::string(1, result.letter) + ":";
  if (!result.hasAnalysis && !result.hasDefrag && !result.error.empty()) {
    lines.push_back(volume + " not done: " + result.error);
    return lines;
  }
  if (result.hasAnalysis) {
    const VolumePage& a = result.analysis;
    lines.push_back(volume + " analysed " + a.Figure("Scanned files") + " files in " + a.Figure("Scanned directories") +
                    " folders: " + a.Figure("Big Fragment files") + " badly fragmented, " +
                    a.Figure("Small Fragment files") + " in a few pieces; report: " + a.Figure("Report"));
  } else {
    lines.push_back(volume + " no analysis page was written (the job ended before this volume)");
  }
  if (const std::string lost = LostSpaceLine(result.letter, result.lost); !lost.empty()) lines.push_back(lost);
  if (kind == JobKind::kAnalyse) return lines;
  if (result.hasDefrag) {
    const VolumePage& d = result.defrag;
    std::string line = volume + " defragmented " + d.Figure("Defragged files") + " files in " + d.Figure("Used time") +
                       "; fragmentation before: " + d.Figure("Fragment before") + ", now: " + d.Figure("Fragment now");
    if (d.hasOptimization) line += "; in-depth pass moved " + std::to_string(d.optimizedFiles.size()) + " files";
    lines.push_back(line);
  } else if (!result.error.empty()) {
    lines.push_back(volume + " not defragmented: " + result.error);
  } else if (stopped) {
    lines.push_back(volume + " not defragmented: the job was stopped before this volume");
  } else {
    // The job went over the volume but left no page: it may well have moved files.
    lines.push_back(volume + " no defragmentation page was written; the volume may have been changed");
  }
  if (result.leftKnown && !result.left.empty()) {
    const std::size_t n = result.left.size();
    lines.push_back(volume + " " + std::to_string(n) + (n == 1 ? " file is" : " files are") +
                    " still in more than one piece:");
    for (const LeftFile& file : result.left) lines.push_back(LeftFileLine(file));
  }
  return lines;
}

std::string EntryPage(const std::string& folder, JobKind kind) {
  return folder + (kind == JobKind::kAnalyse ? "analysisreport.html" : "defragreport.html");
}

}  // namespace cli
