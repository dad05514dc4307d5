// Per-cell file lists and the "FileList.txt" writer.
#include "analysis/cell_file_lists.h"

#include <cstdio>

#include "analysis/cluster_map.h"
#include "core/text.h"

namespace vexa {
namespace {

int Cap(int k) { return k > kMapCells - 1 ? kMapCells - 1 : (k < 0 ? 0 : k); }

}  // namespace

CellFileLists::CellFileLists() : lists_(kMapCells) {}

void CellFileLists::Add(int k, std::string_view path) {
  std::lock_guard<std::mutex> guard(lock_);
  lists_[Cap(k)].emplace_back(path);
}

bool CellFileLists::Contains(int k, std::string_view path) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& p : lists_[Cap(k)]) {
    if (EqualsNoCase(p, path)) return true;
  }
  return false;
}

void CellFileLists::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  for (auto& list : lists_) {
    list.clear();
    list.shrink_to_fit();
  }
}

std::vector<std::string> CellFileLists::List(int k) const {
  if (k < 0 || k >= kMapCells) return {};
  std::lock_guard<std::mutex> guard(lock_);
  return lists_[k];
}

bool WriteFileList(const std::string& fileName, const std::vector<std::string>& paths) {
  std::FILE* f = std::fopen(fileName.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  for (const auto& p : paths) {
    ok = ok && std::fwrite(p.data(), 1, p.size(), f) == p.size() && std::fwrite("\r\n", 1, 2, f) == 2;
  }
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

}  // namespace vexa
