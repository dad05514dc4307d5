// Report files of the working folder: template reading, page writing and page names.
//
// Templates are read in byte mode up to their first zero byte; pages are written in byte
// mode, replaced whole, without a terminating zero. No line ends are translated either
// way, so a page holds exactly the bytes assembled for it.
#pragma once

#include <string>
#include <string_view>

#include "report/report_markup.h"

namespace vexa::report {

// Delivered template and written index page of each kind.
inline constexpr const char* kAnalysisPageTemplate = "analysisreportmodel.html";
inline constexpr const char* kDefragPageTemplate = "defragreportmodel.html";
inline constexpr const char* kAnalysisIndexTemplate = "analysisreporttopmodel.html";
inline constexpr const char* kDefragIndexTemplate = "defragreporttopmodel.html";
inline constexpr const char* kAnalysisIndexPage = "analysisreporttop.html";
inline constexpr const char* kDefragIndexPage = "defragreporttop.html";

// Where a page template puts the volume's table, and an index template the header links.
inline constexpr std::string_view kTableMarker = "<!--table-->";
inline constexpr std::string_view kPartitionListMarker = "<!--partitionlist-->";

// Full name of volume page `number`: the working folder (ending with its separator),
// "analysisreport" or "defragreport", the number in decimal and ".html". Any thread.
[[nodiscard]] std::string VolumePagePath(const std::string& workingFolder, ReportKind kind,
                                         int number);

// Reads the file at `path` into `text`, up to its first zero byte. False, with `text`
// empty, when the file cannot be opened or read. Any thread.
[[nodiscard]] bool ReadTemplate(const std::string& path, std::string* text);

// Creates or truncates the file at `path` and writes `text` into it. False when it cannot
// be created or not every byte reached it; a partly written file is removed. Any thread.
[[nodiscard]] bool WritePage(const std::string& path, std::string_view text);

// Reads the template at `templatePath`, replaces every `marker` in it by `content` and
// writes the result to `pagePath`. False, writing nothing, when the template cannot be
// read; false when the page cannot be written. Any thread.
[[nodiscard]] bool PourIntoTemplate(const std::string& templatePath, std::string_view marker,
                                    std::string_view content, const std::string& pagePath);

}  // namespace vexa::report
