// Volume-page parsing.
//
// The engine writes each table from a fixed template: a table opens with a header cell
// (class=header) naming it ("Analysis Summary", "Defragment  Details", ...), rows are
// "<TR>" elements, and every cell's text sits in a "<div align=...>" element. Summary
// rows hold label, value, label, value; detail rows hold one file each. Only rows of
// class=foot cells carry data; class=content rows are column headings.
#include "report_pages.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// Texts of the "<div align=...>" elements of one row, in order.
std::vector<std::string> CellTexts(const std::string& row) {
  std::vector<std::string> cells;
  std::size_t pos = 0;
  while ((pos = row.find("<div align=", pos)) != std::string::npos) {
    const auto open = row.find('>', pos);
    if (open == std::string::npos) break;
    const auto close = row.find("</div>", open);
    if (close == std::string::npos) break;
    cells.push_back(UnescapeHtml(Trim(row.substr(open + 1, close - open - 1))));
    pos = close + 6;
  }
  return cells;
}

std::string HeaderOf(const std::string& table) {
  const auto at = table.find("class=header");
  if (at == std::string::npos) return {};
  const auto open = table.find('>', at);
  const auto close = table.find("</TD>", open);
  if (open == std::string::npos || close == std::string::npos) return {};
  return Trim(table.substr(open + 1, close - open - 1));
}

std::string LabelOf(const std::string& cell) {
  std::string label = Trim(cell);
  if (!label.empty() && label.back() == ':') label.pop_back();
  return Trim(label);
}

}  // namespace

std::string VolumePage::Figure(const std::string& label) const {
  for (const auto& [name, value] : figures) {
    if (name == label) return value;
  }
  return {};
}

std::string UnescapeHtml(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
          out += c;
          i += std::char_traits<char>::length(entity);
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

VolumePage ParseVolumePage(const std::string& html) {
  VolumePage page;
  // Tables start at "<TABLE"; the text before the first one holds none.
  std::size_t pos = html.find("<TABLE");
  while (pos != std::string::npos) {
    const std::size_t next = html.find("<TABLE", pos + 6);
    const std::string table = html.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    pos = next;
    const std::string header = HeaderOf(table);
    const bool summary = header.find("Summary") != std::string::npos;
    const bool optimization = header.find("Optimization") != std::string::npos;
    if (optimization) page.hasOptimization = true;
    std::size_t rowAt = table.find("<TR");
    while (rowAt != std::string::npos) {
      const std::size_t rowEnd = table.find("<TR", rowAt + 3);
      const std::string row = table.substr(rowAt, rowEnd == std::string::npos ? std::string::npos : rowEnd - rowAt);
      rowAt = rowEnd;
      if (row.find("class=foot") == std::string::npos) continue;
      const std::vector<std::string> cells = CellTexts(row);
      if (summary) {
        for (std::size_t i = 0; i + 1 < cells.size(); i += 2) {
          const std::string label = LabelOf(cells[i]);
          if (!label.empty()) page.figures.emplace_back(label, cells[i + 1]);
        }
      } else if (optimization) {
        page.optimizedFiles.push_back(cells);
      } else if (!cells.empty()) {
        page.files.push_back(cells);
      }
    }
  }
  return page;
}

PageStamp PageWriteTime(const std::string& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) return std::nullopt;
  return written;
}

bool ReadVolumePageIfWritten(const std::string& path, const PageStamp& before, VolumePage* page) {
  const PageStamp now = PageWriteTime(path);
  if (!now || now == before) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *page = ParseVolumePage(text.str());
  page->path = path;
  return true;
}

}  // namespace cli
