// Reading and forming the bytes of "preset.ini".
#include "settings/preset_file.h"

#include <vector>

namespace vexa {
namespace {

enum class Section { kNone, kFolder, kFile, kType };

constexpr std::string_view kLineEnd = "\r\n";

// The next line of `rest` without its line end; advances `rest` past it.
std::string_view NextLine(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  std::string_view line = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

Section HeaderOf(std::string_view line) {
  if (line == "[folder]") return Section::kFolder;
  if (line == "[file]") return Section::kFile;
  if (line == "[type]") return Section::kType;
  return Section::kNone;
}

std::vector<std::string_view> SplitEntries(std::string_view text) {
  std::vector<std::string_view> entries;
  while (!text.empty()) {
    const std::size_t semicolon = text.find(';');
    entries.push_back(text.substr(0, semicolon));
    if (semicolon == std::string_view::npos) break;
    text.remove_prefix(semicolon + 1);
  }
  return entries;
}

void AppendSection(std::string& out, std::string_view header, std::string_view text, bool lastSection,
                   const auto& addEntry) {
  std::string copy;
  for (const char c : text) {
    if (c != ' ') copy += c;
  }
  out += header;
  for (const std::string_view piece : SplitEntries(copy)) {
    const std::string_view entry = CutExclusionEntry(piece);
    out += kLineEnd;
    out += entry;
    addEntry(entry);
  }
  if (!lastSection) out += kLineEnd;
}

}  // namespace

ExclusionTexts ParsePreset(std::string_view content, ExclusionLists& lists) {
  ExclusionTexts texts;
  Section section = Section::kNone;
  while (!content.empty()) {
    std::string_view line = NextLine(content);
    const std::size_t bracket = line.find(']');
    if (bracket != std::string_view::npos) line = line.substr(0, bracket + 1);
    if (const Section header = HeaderOf(line); header != Section::kNone) {
      section = header;
      continue;
    }
    const std::string_view entry = CutExclusionEntry(line);
    switch (section) {
      case Section::kNone:
        break;
      case Section::kFolder:
        texts.folder.append(entry).push_back(';');
        lists.AddFolder(entry);
        break;
      case Section::kFile:
        texts.file.append(entry).push_back(';');
        lists.AddFile(entry, FileEntryKind::kName);
        break;
      case Section::kType:
        texts.type.append(entry).push_back(';');
        lists.AddFile(entry, FileEntryKind::kType);
        break;
    }
  }
  return texts;
}

std::string FormatPreset(const ExclusionTexts& texts, ExclusionLists& lists) {
  std::string out;
  AppendSection(out, "[folder]", texts.folder, false, [&](std::string_view e) { lists.AddFolder(e); });
  AppendSection(out, "[file]", texts.file, false,
                [&](std::string_view e) { lists.AddFile(e, FileEntryKind::kName); });
  AppendSection(out, "[type]", texts.type, true,
                [&](std::string_view e) { lists.AddFile(e, FileEntryKind::kType); });
  return out;
}

}  // namespace vexa
