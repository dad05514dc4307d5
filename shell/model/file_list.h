// The files of a map cell ("FileList.txt") and the details text of one of them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/vexa.h"

namespace shell {

// One top-level node of FileTreeView.
struct FileNode {
  std::string name;  // shown: the part after the last '\' (the whole line without one)
  std::string path;  // the line as the engine wrote it
};

// Splits the text of "FileList.txt" into nodes, one per line in file order. Lines end
// with "\r\n" or "\n"; a final line break does not start another line.
std::vector<FileNode> ParseFileList(std::string_view text);

// The nodes of the cell just pressed: `written` is DLL_GetVolumeSectorFilesList's answer
// and `readFile` reads "FileList.txt". Only a list the engine reports written is read; on
// a failed write the file left behind is an earlier cell's, and nothing is shown.
std::vector<FileNode> CellFiles(std::int32_t written, const std::function<std::string()>& readFile);

// The text Label1 shows for `node`. `details` is the engine's record (its three texts
// are read up to their first NUL, at most 100 bytes each), or null when the engine could
// not open the file: then one line says so instead of empty figures.
std::string DetailsText(const FileNode& node, const VexaFileDetails* details);

}  // namespace shell
