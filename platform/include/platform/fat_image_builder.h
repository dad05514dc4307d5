// Builds FAT12/16/32 images whose files and folders lie exactly where the caller says.
//
// Used by the tests, the benchmarks and the command-line demo to make volumes with a
// known, deterministic fragmentation. Clusters are given as logical clusters, as the
// engine sees them (0 = FAT cluster 2). Everything the caller does not place (folders
// without runs, files without runs, the FAT32 root folder, which always starts at
// logical cluster 0) goes into the lowest free clusters when the image is built,
// one contiguous run where one fits. Names that are not plain 8.3 get long-name
// entries and a NAME~n.EXT alias; all-lower-case 8.3 names use the case flags, as
// Windows stores them. Every image passes `fsck.fat -n`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fat_type.h"

namespace platform::fat {

// `length` consecutive logical clusters from `lcn`.
struct ClusterRun {
  std::uint32_t lcn;
  std::uint32_t length;
};

struct FatImageOptions {
  FatType type = FatType::kFat16;
  std::uint64_t sizeBytes = 0;          // image size, a multiple of 512
  std::uint32_t bytesPerCluster = 2048; // 512 to 65536, a power of two
  std::string label;                    // up to 11 characters; empty = no label entry
};

// Attribute bits for AddFile/AddFolder (as stored in the entry).
inline constexpr std::uint8_t kFatReadOnly = 0x01;
inline constexpr std::uint8_t kFatHidden = 0x02;
inline constexpr std::uint8_t kFatSystem = 0x04;
inline constexpr std::uint8_t kFatArchive = 0x20;

class FatImageBuilder {
 public:
  // Lays out an empty volume. Null, with *error set, when the size and cluster size
  // do not give a volume of the type asked for (or one at a type boundary).
  static std::unique_ptr<FatImageBuilder> Create(const FatImageOptions& options, std::string* error);
  ~FatImageBuilder();

  std::uint32_t ClusterCount() const;
  std::uint32_t BytesPerCluster() const;

  // Adds a folder; its parent must exist. `runs` empty: placed when built. False (see
  // Error) for a bad or duplicate name, a missing parent, or runs that overlap, leave
  // the volume or touch logical cluster 0 of a FAT32 volume.
  [[nodiscard]] bool AddFolder(const std::string& path, const std::vector<ClusterRun>& runs = {},
                               std::uint8_t attributes = 0);
  // Adds a file with `content`; `runs` must hold exactly the clusters the content
  // needs (none for an empty file), or be empty to be placed when built.
  [[nodiscard]] bool AddFile(const std::string& path, const std::string& content,
                             const std::vector<ClusterRun>& runs = {}, std::uint8_t attributes = kFatArchive);
  // Marks a logical cluster bad (used by no file, counted as used).
  [[nodiscard]] bool MarkBad(std::uint32_t lcn);

  // Lays out everything placed automatically and writes the image. False (see Error)
  // when the volume is full or a folder outgrows the runs it was given.
  [[nodiscard]] bool Build(std::vector<std::uint8_t>* image);
  [[nodiscard]] bool Save(const std::string& path);

  const std::string& Error() const;

 private:
  FatImageBuilder();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::fat
