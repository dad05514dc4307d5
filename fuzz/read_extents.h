// What both image fuzzers do with a file they find: read its extents as the engine
// does, remembering the first file that has clusters for the move that follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace fuzz {

struct FirstFile {
  std::string path;
  std::int64_t clusters = 0;
};

// Reads the file's extents as the engine does: each call goes on at the VCN where the
// last one stopped, with a buffer that doubles, so a file of many extents (a chain that
// loops back and forth on a damaged volume) costs few calls.
inline void ReadExtents(platform::Machine& m, const std::string& path, FirstFile* first) {
  const platform::Handle h = m.OpenFileForQuery(path.c_str());
  if (h == platform::kInvalidHandle) return;
  std::vector<std::uint8_t> buffer(32);
  std::int64_t vcn = 0;
  for (;;) {
    auto* r = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
    const std::uint32_t rc = m.GetRetrievalPointers(h, vcn, r, static_cast<std::uint32_t>(buffer.size()));
    if (rc != platform::kErrorSuccess && rc != platform::kErrorMoreData) break;
    if (r->ExtentCount == 0) {
      if (rc == platform::kErrorMoreData) __builtin_trap();  // more data, yet nothing given
      break;
    }
    const std::int64_t next = r->Extents[r->ExtentCount - 1].NextVcn;
    if (next <= vcn) __builtin_trap();  // every answer must move on
    vcn = next;
    if (rc == platform::kErrorSuccess) break;
    if (buffer.size() < (std::size_t{1} << 20)) buffer.resize(buffer.size() * 2);
  }
  if (vcn > 0 && first->path.empty()) {
    first->path = path;
    first->clusters = vcn;
  }
  std::uint64_t size = 0;
  (void)m.FileSize(h, &size);
  m.CloseHandle(h);
}

}  // namespace fuzz
