// Helpers for the FAT provider tests: running mkfs.fat, mtools and fsck.fat on images
// in a scratch folder, and walking a volume through the seam as the engine does.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/fat_io.h"
#include "platform/machine.h"

namespace fattest {

// Runs a shell command; returns its exit code and, when asked, its output (stdout and stderr).
inline int Run(const std::string& command, std::string* output = nullptr) {
  const std::string full = "MTOOLS_SKIP_CHECK=1 " + command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTools() {
  return Run("command -v mkfs.fat && command -v fsck.fat && command -v mcopy && command -v mshowfat") == 0;
}

#define FAT_REQUIRE_TOOLS() \
  if (!fattest::HaveTools()) GTEST_SKIP() << "mkfs.fat, fsck.fat or mtools missing"

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// A scratch folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/vexa_fat_XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// mkfs.fat: `fatBits` 12/16/32, `kib` image size, `sectorsPerCluster`.
// `options` are further mkfs.fat options ("-S 4096 -f 1").
inline void MakeFs(const std::string& image, int fatBits, int kib, int sectorsPerCluster,
                   const std::string& label = "", const std::string& options = "") {
  std::filesystem::remove(image);
  std::string out;
  const std::string cmd = "mkfs.fat -C -F " + std::to_string(fatBits) + " -s " + std::to_string(sectorsPerCluster) +
                          (label.empty() ? "" : " -n " + label) + " " + options + " " + Quote(image) + " " +
                          std::to_string(kib);
  ASSERT_EQ(Run(cmd, &out), 0) << cmd << "\n" << out;
}

inline void Mcopy(const std::string& image, const std::string& hostFile, const std::string& path) {
  std::string out;
  ASSERT_EQ(Run("mcopy -i " + Quote(image) + " " + Quote(hostFile) + " " + Quote("::/" + path), &out), 0) << out;
}

inline void Mmd(const std::string& image, const std::string& path) {
  std::string out;
  ASSERT_EQ(Run("mmd -i " + Quote(image) + " " + Quote("::/" + path), &out), 0) << out;
}

inline void Mdel(const std::string& image, const std::string& path) {
  std::string out;
  ASSERT_EQ(Run("mdel -i " + Quote(image) + " " + Quote("::/" + path), &out), 0) << out;
}

inline void Mattrib(const std::string& image, const std::string& flags, const std::string& path) {
  std::string out;
  ASSERT_EQ(Run("mattrib -i " + Quote(image) + " " + flags + " " + Quote("::/" + path), &out), 0) << out;
}

// On FAT32, mtools allocates after the FSInfo "next free" hint; setting the hint to
// unknown makes it fill the holes left by deletions, as on FAT12/16.
inline void ForgetNextFree(const std::string& image) {
  std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
  unsigned char boot[512];
  f.read(reinterpret_cast<char*>(boot), sizeof boot);
  if (boot[22] != 0 || boot[23] != 0) return;  // not a FAT32 layout
  const unsigned fsInfo = boot[48] | (boot[49] << 8);
  const unsigned bytesPerSector = boot[11] | (boot[12] << 8);
  f.seekp(static_cast<std::streamoff>(fsInfo) * bytesPerSector + 492);
  const char unknown[4] = {'\xff', '\xff', '\xff', '\xff'};
  f.write(unknown, 4);
}

// Every path mtools lists ("dir/", "dir/file"), without the leading "::/".
inline std::vector<std::string> MtoolsPaths(const std::string& image) {
  std::string out;
  Run("mdir -i " + Quote(image) + " -/ -b ::", &out);
  std::vector<std::string> paths;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("::/", 0) == 0) paths.push_back(line.substr(3));
  }
  return paths;
}

// A file's runs as mshowfat reports them, in logical clusters: (lcn, length).
using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;
inline Runs MtoolsRuns(const std::string& image, const std::string& path) {
  std::string out;
  Run("mshowfat -i " + Quote(image) + " " + Quote("::/" + path), &out);
  Runs runs;
  std::size_t at = out.rfind('>') == std::string::npos ? out.size() : out.find('<');
  while (at < out.size()) {
    const std::size_t close = out.find('>', at);
    if (close == std::string::npos) break;
    const std::string range = out.substr(at + 1, close - at - 1);
    const std::size_t dash = range.find('-');
    const long first = std::stol(range.substr(0, dash));
    const long last = dash == std::string::npos ? first : std::stol(range.substr(dash + 1));
    runs.emplace_back(first - 2, last - first + 1);
    at = out.find('<', close);
  }
  return runs;
}

inline std::string Mtype(const std::string& image, const std::string& path) {
  std::string out;
  Run("mtype -i " + Quote(image) + " " + Quote("::/" + path), &out);
  return out;
}

// Contents of every file of the image, read by mtools, by path.
inline std::map<std::string, std::string> MtoolsContents(const std::string& image) {
  std::map<std::string, std::string> contents;
  for (const std::string& p : MtoolsPaths(image)) {
    if (!p.empty() && p.back() != '/') contents[p] = Mtype(image, p);
  }
  return contents;
}

// Paths whose content differs between two MtoolsContents results (or that one lacks),
// so a failure names the files instead of printing their bytes.
inline std::vector<std::string> ChangedFiles(const std::map<std::string, std::string>& before,
                                             const std::map<std::string, std::string>& after) {
  std::vector<std::string> changed;
  for (const auto& [path, content] : before) {
    auto it = after.find(path);
    if (it == after.end() || it->second != content) changed.push_back(path);
  }
  for (const auto& [path, content] : after) {
    if (before.count(path) == 0) changed.push_back(path);
  }
  return changed;
}

inline int Fsck(const std::string& image, std::string* out = nullptr) {
  return Run("fsck.fat -n " + Quote(image), out);
}

// Lines of `fsck.fat -n` output that a crash in the middle of a move may leave:
// everything else is a finding a crash must never cause.
inline std::vector<std::string> DisallowedFsckLines(const std::string& output) {
  static const char* const kAllowed[] = {
      "fsck.fat ",       "FATs differ but appear to be intact", "Using first FAT", "Dirty bit is set",
      "Automatically removing dirty bit", "Free cluster summary",  "Auto-correcting", "Reclaimed ",
      "Leaving filesystem unchanged", "Checking for unused clusters", "files, ",
  };
  std::vector<std::string> bad;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    bool ok = false;
    for (const char* allowed : kAllowed) ok = ok || line.find(allowed) != std::string::npos;
    if (!ok) bad.push_back(line);
  }
  return bad;
}

// --- the seam ---

// Fills an mkfs.fat image with mtools: fragmented files from interleaved copies and
// deletions, long names, lower-case 8.3 names, nested folders and a read-only file.
inline void FillWithMtools(const ScratchDir& dir, const std::string& image, std::uint32_t bytesPerCluster) {
  const std::size_t small = bytesPerCluster * 2;
  for (int i = 0; i < 6; ++i) {
    WriteAll(dir / ("s" + std::to_string(i)), RandomBytes(small + 100 * i, 10 + i));
    Mcopy(image, dir / ("s" + std::to_string(i)), "PIECE" + std::to_string(i) + ".BIN");
  }
  Mdel(image, "PIECE1.BIN");
  Mdel(image, "PIECE3.BIN");
  Mdel(image, "PIECE5.BIN");
  ForgetNextFree(image);
  WriteAll(dir / "big", RandomBytes(bytesPerCluster * 9 + 17, 99));
  Mcopy(image, dir / "big", "Fragmented Big File.data");
  Mmd(image, "Folder One");
  Mmd(image, "Folder One/deeper");
  Mmd(image, "Folder One/deeper/DEEPEST");
  WriteAll(dir / "t", "hello\n");
  Mcopy(image, dir / "t", "readme.txt");
  Mcopy(image, dir / "t", "Folder One/deeper/A name with spaces and more than 13 characters.txt");
  Mcopy(image, dir / "big", "Folder One/deeper/DEEPEST/COPY.BIN");
  WriteAll(dir / "empty", "");
  Mcopy(image, dir / "empty", "Folder One/EMPTY.TXT");
  Mattrib(image, "+r", "readme.txt");
}

struct SeenFile {
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::string alternate;
  Runs runs;
};

inline Runs Extents(platform::Machine& m, const std::string& path, std::uint32_t* error = nullptr) {
  Runs runs;
  const platform::Handle h = m.OpenFileForQuery(path.c_str());
  if (h == platform::kInvalidHandle) {
    if (error != nullptr) *error = platform::kErrorFileNotFound;
    return runs;
  }
  std::vector<std::uint8_t> buffer(64);
  std::uint32_t rc;
  while ((rc = m.GetRetrievalPointers(h, 0, reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data()),
                                      static_cast<std::uint32_t>(buffer.size()))) == platform::kErrorMoreData) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != nullptr) *error = rc;
  if (rc == platform::kErrorSuccess) {
    const auto* r = reinterpret_cast<const platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
    std::int64_t vcn = r->StartingVcn;
    for (std::uint32_t i = 0; i < r->ExtentCount; ++i) {
      runs.emplace_back(r->Extents[i].Lcn, r->Extents[i].NextVcn - vcn);
      vcn = r->Extents[i].NextVcn;
    }
  }
  m.CloseHandle(h);
  return runs;
}

// Walks every folder of drive `letter` as the engine does; paths as mtools lists them
// ("dir/" for folders). "." and ".." are passed over.
inline std::map<std::string, SeenFile> Walk(platform::Machine& m, char letter) {
  std::map<std::string, SeenFile> seen;
  std::function<void(const std::string&, const std::string&)> walk = [&](const std::string& win,
                                                                         const std::string& rel) {
    platform::WIN32_FIND_DATAA data{};
    const platform::Handle h = m.FindFirst((win + "\\*").c_str(), &data);
    if (h == platform::kInvalidHandle) return;
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      SeenFile f;
      f.attributes = data.dwFileAttributes;
      f.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
      f.alternate = data.cAlternateFileName;
      if ((data.dwFileAttributes & platform::kAttributeDirectory) != 0) {
        seen[rel + name + "/"] = f;
        walk(win + "\\" + name, rel + name + "/");
      } else {
        f.runs = Extents(m, win + "\\" + name);
        seen[rel + name] = f;
      }
    } while (m.FindNext(h, &data));
    m.FindClose(h);
  };
  walk(std::string(1, letter) + ":", "");
  return seen;
}

// The lowest free run of at least `length` clusters, from the volume bitmap; -1 when none.
inline std::int64_t FindFreeRun(platform::Machine& m, platform::Handle volume, std::int64_t length) {
  std::vector<std::uint8_t> buffer(64);
  auto* b = reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(buffer.data());
  if (m.GetVolumeBitmap(volume, 0, b, static_cast<std::uint32_t>(buffer.size())) == platform::kErrorMoreData) {
    buffer.resize(platform::kVolumeBitmapHeaderSize + static_cast<std::size_t>(b->BitmapSize + 7) / 8);
    b = reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(buffer.data());
    if (m.GetVolumeBitmap(volume, 0, b, static_cast<std::uint32_t>(buffer.size())) != platform::kErrorSuccess) return -1;
  }
  std::int64_t run = 0;
  for (std::int64_t c = 0; c < b->BitmapSize; ++c) {
    const bool used = (b->Buffer[c / 8] >> (c % 8)) & 1;
    run = used ? 0 : run + 1;
    if (run == length) return c - length + 1;
  }
  return -1;
}

// Moves a file into the lowest free run that holds it, extent by extent, as the
// engine's relocation does. Returns the first error, or 0.
inline std::uint32_t DefragFile(platform::Machine& m, char letter, const std::string& path) {
  const platform::Handle volume = m.OpenVolume(letter);
  const platform::Handle file = m.OpenFileForQuery(path.c_str());
  std::uint32_t rc = platform::kErrorInvalidHandle;
  if (volume != platform::kInvalidHandle && file != platform::kInvalidHandle) {
    const Runs runs = Extents(m, path);
    std::int64_t total = 0;
    for (const auto& r : runs) total += r.second;
    std::int64_t target = FindFreeRun(m, volume, total);
    rc = target < 0 ? platform::kErrorDiskFull : platform::kErrorSuccess;
    std::int64_t vcn = 0;
    for (std::size_t i = 0; i < runs.size() && rc == platform::kErrorSuccess; ++i) {
      platform::MOVE_FILE_DATA move{file, vcn, target, static_cast<std::uint32_t>(runs[i].second)};
      rc = m.MoveFile(volume, move);
      vcn += runs[i].second;
      target += runs[i].second;
    }
  }
  if (file != platform::kInvalidHandle) m.CloseHandle(file);
  if (volume != platform::kInvalidHandle) m.CloseHandle(volume);
  return rc;
}


// Records the writes of a run with the flushes between them, over an image in memory:
// epochs[i] holds the writes between flush i and flush i + 1.
class JournalIo final : public platform::fat::FatIo {
 public:
  struct Record {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
  };
  JournalIo(std::vector<std::uint8_t> image, std::vector<std::vector<Record>>* epochs)
      : inner_(std::move(image)), epochs_(epochs) {
    epochs_->emplace_back();
  }
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Writable() const override { return true; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override { return inner_.Read(offset, data, size); }
  bool Write(std::uint64_t offset, const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    epochs_->back().push_back({offset, std::vector<std::uint8_t>(p, p + size)});
    return inner_.Write(offset, data, size);
  }
  bool Flush() override {
    if (!epochs_->back().empty()) epochs_->emplace_back();
    return true;
  }
  // The image as it is now.
  std::string Bytes() {
    std::string out(static_cast<std::size_t>(Size()), 0);
    EXPECT_TRUE(Read(0, out.data(), out.size()));
    return out;
  }

 private:
  platform::fat::MemoryFatIo inner_;
  std::vector<std::vector<Record>>* epochs_;
};

}  // namespace fattest
