// Writes the report pages of an analysis job and of an optimized defragmentation job into
// a working folder that already holds the delivered templates, through the report API the
// workers use, for the browser test to open.
//
// Usage: report_page_maker <working folder ending with '/'>
// The analysis job covers the letters "CDE" where D names no volume, so the index links
// analysisreport1.html (C) and analysisreport3.html (E). The defragmentation job covers
// "CE" and writes defragreport1.html and defragreport2.html with in-depth tables. File
// names carry markup that would load outside resources if it reached a page unescaped.
#include <cstdio>
#include <string>
#include <vector>

#include "report/report.h"

namespace {

using vexa::report::Report;
using vexa::report::ReportKind;
using vexa::report::ReportVolumeFigures;

const char* const kHostileNames[] = {
    "\\Data\\a<b>&c.txt",
    "\\Data\\\"><img src=\"http://198.51.100.7/pixel.png\">.bin",
    "\\Data\\<script src=https://example.invalid/x.js></script>.log",
    "\\Data\\<link rel=stylesheet href=file:///etc/vexa.css>.dat",
    "\\Data\\it's <!--table--> here.doc",
};

ReportVolumeFigures Figures(char letter) {
  ReportVolumeFigures figures;
  figures.letter = letter;
  figures.totalSize = letter == 'C' ? "31.9 MB" : "1.9 GB";
  figures.usedSize = letter == 'C' ? "12.4 MB" : "640.0 MB";
  figures.fileSystem = letter == 'C' ? "FAT16" : "FAT32";
  figures.bytesPerCluster = letter == 'C' ? 2048 : 4096;
  figures.usedClusters = letter == 'C' ? 6349 : 163840;
  figures.freeClusters = letter == 'C' ? 9950 : 334000;
  figures.scannedFolders = 12;
  figures.scannedFiles = 240;
  figures.bigFragmentFiles = 5;
  figures.smallFragmentFiles = 2;
  figures.defraggedFiles = 5;
  figures.fragmentationText = "3.40%";
  return figures;
}

std::string Path(char letter, const char* name) { return std::string(1, letter) + ":" + name; }

bool Analyse(const std::string& folder) {
  Report report;
  report.StartHeaderList();
  std::vector<VexaMapCell> cells(VEXA_MAP_CELLS, VexaMapCell{});
  for (int i = 0; i < 34; ++i) cells[static_cast<std::size_t>(i * 29)] = {1, 0, 0, 3, 1, 0};
  bool ok = true;
  int number = 0;
  for (char letter : std::string("CDE")) {
    ++number;
    report.StartVolumeTable(ReportKind::kAnalysis);
    if (letter == 'D') continue;  // not a volume of this machine: no link, no page
    report.AppendHeaderLink(ReportKind::kAnalysis, number, letter);
    report.ClearFragmentList();
    report.RecordStartTime();
    std::uint32_t extents = 2;
    for (const char* name : kHostileNames) {
      report.AppendAnalysisRow(Path(letter, name), extents++, 5000000, 4096);
    }
    report.RecordFinishTime();
    static_cast<void>(report.FillAnalysisTable(Figures(letter), cells.data()));
    ok = report.WriteVolumePage(folder, ReportKind::kAnalysis, number) && ok;
  }
  return report.WriteIndexPage(folder, ReportKind::kAnalysis) && ok;
}

bool Defragment(const std::string& folder) {
  Report report;
  report.StartHeaderList();
  bool ok = true;
  int number = 0;
  for (char letter : std::string("CE")) {
    ++number;
    report.StartVolumeTable(ReportKind::kDefrag);
    report.AppendHeaderLink(ReportKind::kDefrag, number, letter);
    report.ClearFragmentList();
    report.ClearInDepthList();
    report.RecordStartTime();
    std::uint32_t extents = 14;
    std::uint64_t place = 200;
    for (const char* name : kHostileNames) {
      report.AppendDefragRow(Path(letter, name), extents++, 5000000, 1221);
      report.AppendInDepthRow(Path(letter, name), place + 5000, place, 100);
      place += 100;
    }
    report.RecordFinishTime();
    report.FillDefragTable(Figures(letter), 2, true);
    ok = report.WriteVolumePage(folder, ReportKind::kDefrag, number) && ok;
  }
  return report.WriteIndexPage(folder, ReportKind::kDefrag) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: report_page_maker <working folder ending with '/'>\n");
    return 2;
  }
  const std::string folder = argv[1];
  const bool analysed = Analyse(folder);
  const bool defragmented = Defragment(folder);
  if (!analysed || !defragmented) {
    std::fprintf(stderr, "report_page_maker: a page could not be written in %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
