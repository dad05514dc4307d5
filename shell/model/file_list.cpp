// The files of a map cell and the details text.
#include "model/file_list.h"

#include <cstring>

namespace shell {
namespace {

std::string Field(const char (&text)[100]) { return std::string(text, strnlen(text, sizeof text)); }

}  // namespace

std::vector<FileNode> ParseFileList(std::string_view text) {
  std::vector<FileNode> nodes;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t slash = line.rfind('\\');
    nodes.push_back({std::string(slash == std::string_view::npos ? line : line.substr(slash + 1)), std::string(line)});
  }
  return nodes;
}

std::string DetailsText(const FileNode& node, const VexaFileDetails* details) {
  if (details == nullptr) {
    return "\r\n    " + node.name + " cannot be opened now, so its details cannot be shown.    \r\n";
  }
  std::string text = "\r\n    FileName : " + node.name + "    \r\n";
  text += "    Fragments : " + Field(details->extentCount) + "    \r\n";
  text += "    Clusters : " + Field(details->clusters) + "    \r\n";
  text += "    Size : " + Field(details->bytes) + "  Byte.    \r\n";
  text += "    " + node.path + "    \r\n";
  return text;
}

std::vector<FileNode> CellFiles(std::int32_t written, const std::function<std::string()>& readFile) {
  if (written == 0) return {};
  return ParseFileList(readFile());
}

}  // namespace shell
