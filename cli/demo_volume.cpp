// The demo volume's layout.
//
// Clusters from the start: the root and the folders (placed by the builder), a free
// stretch, the ordinary files in one piece with a free gap after every hundredth, a free
// stretch, then the fragmented files, whose pieces are dealt out round by round (piece 1
// of every file, then piece 2 of every file, ...) with a free cluster after each round,
// so no two pieces of one file touch. The rest of the volume is free. A quick
// defragmentation has room to put every fragmented file together, and the in-depth pass
// finds free runs before many files to move them into.
#include "demo_volume.h"

#include <algorithm>
#include <vector>

#include "platform/fat_image_builder.h"

namespace cli {
namespace {

constexpr std::uint64_t kImageBytes = 320ull * 1024 * 1024;
constexpr std::uint32_t kClusterBytes = 2048;
constexpr std::uint32_t kFirstFileCluster = 1000;  // what lies below is the folders' and free
constexpr std::uint32_t kFragmentedRegionGap = 3000;

constexpr const char* kTopFolders[] = {"Documents", "Pictures", "Music", "Projects", "Archive", "Games"};
constexpr const char* kMiddleFolders[] = {"2019", "2020", "2021", "Old stuff"};
constexpr const char* kLeafFolders[] = {"Letters", "Holiday", "Drafts", "Backup copies", "misc"};
constexpr const char* kExtensions[] = {".txt", ".jpg", ".doc", ".mp3", ".dat", ".htm", ".csv", ".bin"};
constexpr int kFilesPerLeaf = 25;
constexpr int kBadlyFragmented = 200;   // 11 to 16 pieces
constexpr int kLightlyFragmented = 60;  // 2 to 6 pieces

// A small deterministic generator, so every demo volume is the same.
class Random {
 public:
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 11);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

std::string Content(Random& random, std::uint64_t size, const std::string& name) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,\n";
  std::string text = name + "\n";
  text.reserve(size);
  while (text.size() < size) {
    std::uint32_t bits = random.Next();
    for (int k = 0; k < 4 && text.size() < size; ++k, bits >>= 6) text += kAlphabet[bits % (sizeof kAlphabet - 1)];
  }
  text.resize(size);
  return text;
}

std::uint32_t ClustersOf(std::uint64_t size) { return static_cast<std::uint32_t>((size + kClusterBytes - 1) / kClusterBytes); }

struct FragmentedFile {
  std::string path;
  std::uint64_t size;
  std::vector<std::uint32_t> pieceLengths;
  std::vector<platform::fat::ClusterRun> runs;
};

}  // namespace

bool BuildDemoVolume(const std::string& path, DemoVolumeFacts* facts, std::string* error) {
  using platform::fat::ClusterRun;
  platform::fat::FatImageOptions options;
  options.type = platform::fat::FatType::kFat32;
  options.sizeBytes = kImageBytes;
  options.bytesPerCluster = kClusterBytes;
  options.label = "VEXA DEMO";
  auto builder = platform::fat::FatImageBuilder::Create(options, error);
  if (!builder) return false;
  auto fail = [&] {
    *error = builder->Error();
    return false;
  };

  *facts = DemoVolumeFacts{};
  facts->imageBytes = kImageBytes;
  facts->bytesPerCluster = kClusterBytes;
  Random random;
  std::vector<std::string> leaves;
  for (const char* top : kTopFolders) {
    if (!builder->AddFolder(top)) return fail();
    ++facts->folders;
    for (const char* middle : kMiddleFolders) {
      const std::string middlePath = std::string(top) + "/" + middle;
      if (!builder->AddFolder(middlePath)) return fail();
      ++facts->folders;
      for (const char* leaf : kLeafFolders) {
        leaves.push_back(middlePath + "/" + leaf);
        if (!builder->AddFolder(leaves.back())) return fail();
        ++facts->folders;
      }
    }
  }

  // Ordinary files, each in one piece, mostly small with a few large ones.
  std::uint32_t cursor = kFirstFileCluster;
  int number = 0;
  for (const std::string& leaf : leaves) {
    for (int k = 0; k < kFilesPerLeaf; ++k, ++number) {
      const std::uint64_t size = number % 50 == 7 ? 200 * 1024 + random.Below(400 * 1024)
                                                   : 100 + random.Below(number % 3 == 0 ? 40 * 1024 : 12 * 1024);
      const std::string name = leaf + "/file " + std::to_string(number) + kExtensions[number % 8];
      const std::uint32_t clusters = ClustersOf(size);
      if (!builder->AddFile(name, Content(random, size, name), {{cursor, clusters}})) return fail();
      cursor += clusters;
      if (number % 100 == 99) cursor += 4 + random.Below(60);
      ++facts->files;
    }
  }

  // Fragmented files, spread over the folders.
  std::vector<FragmentedFile> fragmented;
  for (int i = 0; i < kBadlyFragmented + kLightlyFragmented; ++i) {
    const bool badly = i < kBadlyFragmented;
    const std::uint32_t pieces = badly ? 11 + random.Below(6) : 2 + random.Below(5);
    const std::uint32_t clusters = pieces * (2 + random.Below(5));
    FragmentedFile file;
    file.size = std::uint64_t{clusters - 1} * kClusterBytes + 1 + random.Below(kClusterBytes);
    file.path = leaves[static_cast<std::size_t>(i * 7) % leaves.size()] + "/fragmented " + std::to_string(i) +
                (badly ? ".mpg" : ".log");
    for (std::uint32_t p = 0; p < pieces; ++p) file.pieceLengths.push_back(clusters / pieces + (p < clusters % pieces ? 1 : 0));
    fragmented.push_back(std::move(file));
  }
  cursor += kFragmentedRegionGap;
  std::size_t rounds = 0;
  for (const auto& file : fragmented) rounds = std::max(rounds, file.pieceLengths.size());
  for (std::size_t round = 0; round < rounds; ++round) {
    for (auto& file : fragmented) {
      if (round >= file.pieceLengths.size()) continue;
      file.runs.push_back({cursor, file.pieceLengths[round]});
      cursor += file.pieceLengths[round];
    }
    ++cursor;  // a free cluster between rounds keeps a file's pieces apart
  }
  if (cursor >= builder->ClusterCount()) {
    *error = "the demo layout does not fit its volume";
    return false;
  }
  for (const auto& file : fragmented) {
    if (!builder->AddFile(file.path, Content(random, file.size, file.path), file.runs)) return fail();
    ++facts->files;
    ++facts->fragmentedFiles;
  }
  if (!builder->Save(path)) return fail();
  return true;
}

}  // namespace cli
