// Report files of the working folder: template reading, page writing and page names.
#include "report/report_files.h"

#include <cstdio>

#include "report/number_text.h"
#include "report/placeholder.h"

namespace vexa::report {

std::string VolumePagePath(const std::string& workingFolder, ReportKind kind, int number) {
  std::string path = workingFolder;
  path += kind == ReportKind::kAnalysis ? "analysisreport" : "defragreport";
  AppendSigned(path, number);
  path += ".html";
  return path;
}

bool ReadTemplate(const std::string& path, std::string* text) {
  text->clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string bytes;
  char chunk[16384];
  bool ok = true;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    bytes.append(chunk, got);
    if (got < sizeof chunk) {
      ok = std::ferror(file) == 0;
      break;
    }
  }
  std::fclose(file);
  if (!ok) return false;
  const std::size_t zero = bytes.find('\0');
  if (zero != std::string::npos) bytes.resize(zero);
  *text = std::move(bytes);
  return true;
}

bool WritePage(const std::string& path, std::string_view text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0) ok = false;
  if (!ok) std::remove(path.c_str());
  return ok;
}

bool PourIntoTemplate(const std::string& templatePath, std::string_view marker,
                      std::string_view content, const std::string& pagePath) {
  std::string page;
  if (!ReadTemplate(templatePath, &page)) return false;
  ReplaceAll(page, marker, content);
  return WritePage(pagePath, page);
}

}  // namespace vexa::report
