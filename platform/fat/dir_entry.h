// Folder entries: the 32-byte short entry, long-name (LFN) entries, and the names
// Windows shows for them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::fat {

inline constexpr std::size_t kDirEntrySize = 32;

// Attribute byte bits.
inline constexpr std::uint8_t kAttrReadOnly = 0x01;
inline constexpr std::uint8_t kAttrHidden = 0x02;
inline constexpr std::uint8_t kAttrSystem = 0x04;
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
inline constexpr std::uint8_t kAttrArchive = 0x20;
inline constexpr std::uint8_t kAttrLongName = 0x0F;  // read-only|hidden|system|label

// Case flags of the entry's NT byte: the 8.3 name is shown in lower case.
inline constexpr std::uint8_t kLowerBase = 0x08;
inline constexpr std::uint8_t kLowerExtension = 0x10;

// First name byte values.
inline constexpr std::uint8_t kEntryEnd = 0x00;      // no more entries in this folder
inline constexpr std::uint8_t kEntryDeleted = 0xE5;  // free slot
inline constexpr std::uint8_t kEntryKanji = 0x05;    // stands for a first byte of 0xE5

// Byte offsets inside an entry.
inline constexpr std::size_t kEntryClusterHigh = 20;  // FAT32 high word of first cluster
inline constexpr std::size_t kEntryClusterLow = 26;

struct DirEntry {
  std::uint8_t name[11];           // 8.3 name, space padded
  std::uint8_t attributes;
  std::uint8_t caseFlags;          // kLowerBase | kLowerExtension
  std::uint8_t createTenths;       // 10 ms units, 0..199
  std::uint16_t createTime;        // FAT time: hour<<11 | minute<<5 | second/2
  std::uint16_t createDate;        // FAT date: (year-1980)<<9 | month<<5 | day
  std::uint16_t accessDate;
  std::uint16_t clusterHigh;       // FAT32 only
  std::uint16_t writeTime;
  std::uint16_t writeDate;
  std::uint16_t clusterLow;
  std::uint32_t size;              // bytes; 0 for folders
};

DirEntry DecodeDirEntry(const std::uint8_t* p);
void EncodeDirEntry(const DirEntry& e, std::uint8_t* p);

// The 8.3 name as Windows shows it ("README.TXT", or "readme.txt" with both case flags),
// as name text (on Linux its bytes read as code page 437).
std::string ShortNameText(const DirEntry& e);

// The checksum of an 8.3 name that every LFN entry of the name carries.
std::uint8_t ShortNameChecksum(const std::uint8_t name[11]);

// Gathers the LFN entries that come before a short entry (in on-disk order) and
// yields the long name when the set is complete and belongs to that short entry.
class LongNameCollector {
 public:
  // Takes one LFN entry (attribute kAttrLongName).
  void Add(const std::uint8_t* entry);
  // Forgets what was gathered (a deleted entry or a broken sequence).
  void Reset() { expected_ = 0; valid_ = false; }
  // Ends the set at the short entry `shortName`; true with *name set when a complete,
  // matching long name precedes it. Always resets.
  bool Take(const std::uint8_t shortName[11], std::u16string* name);

 private:
  std::u16string parts_[20];
  int expected_ = 0;       // next sequence number awaited; 0 = none
  int count_ = 0;          // entries in the set
  std::uint8_t checksum_ = 0;
  bool valid_ = false;
};

// Case-insensitive comparison of names as the seam carries them (name_text.h).
bool SameName(const std::string& a, const std::string& b);
// The name in the one case SameName compares in, for lookups by key.
std::string FoldName(const std::string& name);
// A 64-bit hash of `folder` (a node index) and `name` folded as FoldName folds it
// (an ASCII name without making the folded text): names that SameName finds equal hash alike.
std::uint64_t FoldedNameHash(std::int32_t folder, std::string_view name);

// --- making entries (image builder) ---

// True when `name` can be stored as an 8.3 name with case flags alone (no LFN): sets
// `out` to the stored name and *caseFlags.
bool StoreAsShortName(const std::string& name, std::uint8_t out[11], std::uint8_t* caseFlags);
// The alias NAME~n.EXT for a long name.
void MakeShortAlias(const std::string& longName, int n, std::uint8_t out[11]);
// The LFN entries for the name text `longName`, in on-disk order (last part first).
std::vector<std::array<std::uint8_t, kDirEntrySize>> EncodeLongName(const std::string& longName,
                                                                      std::uint8_t checksum);

}  // namespace platform::fat
