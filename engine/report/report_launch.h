// Opening a job's report in the user's browser: the entry page's file URL and its hand-over
// to the shell.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexa {

// The file URL of the entry page for report `kind`: "file:///" + `workingFolder` +
// "analysisreport.html" for kind 1, "defragreport.html" for any other kind, with every
// "\" turned into "/". Nothing else is encoded (blanks stay blanks). A POSIX folder's
// own leading "/" is not doubled. Pure.
std::string ReportUrl(std::string_view workingFolder, std::int32_t kind);

// Hands ReportUrl(workingFolder, kind) to the platform shell and returns at once; a
// page the shell cannot open is not reported. Never throws. Any thread.
void ShowReport(std::string_view workingFolder, std::int32_t kind) noexcept;

}  // namespace vexa
