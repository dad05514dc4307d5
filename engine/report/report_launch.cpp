// The report's file URL and its hand-over to the platform shell.
#include "report/report_launch.h"

#include <algorithm>

#include "platform/shell.h"

namespace vexa {

std::string ReportUrl(std::string_view workingFolder, std::int32_t kind) {
  std::string url = "file:///";
  // A POSIX folder brings its own leading "/": "file:///home/...", not "file:////home/...".
  if (workingFolder.starts_with('/')) workingFolder.remove_prefix(1);
  url += workingFolder;
  url += kind == 1 ? "analysisreport.html" : "defragreport.html";
  std::replace(url.begin(), url.end(), '\\', '/');
  return url;
}

void ShowReport(std::string_view workingFolder, std::int32_t kind) noexcept {
  try {
    platform::OpenDocument(ReportUrl(workingFolder, kind).c_str());
  } catch (...) {
  }
}

}  // namespace vexa
