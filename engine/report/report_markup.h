// Report markup: the header link, the three built-in table templates and the detail rows.
//
// This is the exact HTML the engine writes into report pages. The table templates carry
// "<!--name-->" placeholders that the report filler replaces; the rows are appended to
// the fragment list and the in-depth list while a pass visits files. Every path that goes
// into a row and the drive letter of a header link are HTML-escaped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexa::report {

// Which report a page, link or table belongs to.
enum class ReportKind { kAnalysis, kDefrag };

// The built-in table templates (3212, 3163 and 494 characters), copied afresh for every
// volume. The defragmentation template ends with "<!--optimize-->", where an optimized
// defragmentation puts the in-depth table.
extern const std::string_view kAnalysisTableTemplate;
extern const std::string_view kDefragTableTemplate;
extern const std::string_view kInDepthTableTemplate;

// Appends the index-page cell that links volume `letter` to its page number `number` in
// the frame mainFrame, for example
// <td class=header width=50><a href=analysisreport1.html target=mainFrame>C:\</a></td>.
// Any thread.
void AppendHeaderLink(std::string& headerText, ReportKind kind, int number, char letter);

// Appends one analysis detail row for a big-fragment file: its full path, its extent
// count, its size as (bytes div 1024) + 1 KB and its cluster count as bytes div
// `bytesPerCluster` (0 when `bytesPerCluster` is 0), advising "Defragment". Any thread.
void AppendAnalysisRow(std::string& fragmentList, std::string_view path,
                       std::uint32_t extentCount, std::uint64_t fileSize,
                       std::uint32_t bytesPerCluster);

// Appends one defragmentation detail row for a relocated file: its full path, the extent
// count it had before the move, its size as in the analysis row, the total clusters
// counted from its extents, and 0 fragments now. Any thread.
void AppendDefragRow(std::string& fragmentList, std::string_view path,
                     std::uint32_t extentCountBefore, std::uint64_t fileSize,
                     std::uint64_t totalClusters);

// Appends one in-depth row for a file moved whole: "first - last" of its old place and of
// its new place (last = first + clusterCount - 1) and the state "Sequence". Any thread.
void AppendInDepthRow(std::string& inDepthList, std::string_view path,
                      std::uint64_t oldFirstCluster, std::uint64_t newFirstCluster,
                      std::uint64_t clusterCount);

}  // namespace vexa::report
