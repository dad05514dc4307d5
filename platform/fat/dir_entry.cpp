// Folder entries and long names: decoding, encoding and the names Windows shows.
//
// A long name is stored as up to 20 LFN entries just before its short entry, the last
// part first, each holding 13 UCS-2 characters and the checksum of the short name.
// A set that is incomplete, out of order or carries another checksum is ignored and
// the short name is shown, as Windows does.
#include "dir_entry.h"

#include <algorithm>
#include <cstring>

#include "le.h"
#include "platform/name_text.h"

namespace platform::fat {
namespace {

// Offsets of the 13 characters inside an LFN entry.
constexpr int kLfnCharOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

char Upper(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  return c;
}

bool ShortNameChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 'A' && u <= 'Z') return true;
  if (u >= '0' && u <= '9') return true;
  return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr && c != 0;
}

}  // namespace

DirEntry DecodeDirEntry(const std::uint8_t* p) {
  DirEntry e{};
  std::memcpy(e.name, p, 11);
  e.attributes = p[11];
  e.caseFlags = p[12];
  e.createTenths = p[13];
  e.createTime = Le16(p + 14);
  e.createDate = Le16(p + 16);
  e.accessDate = Le16(p + 18);
  e.clusterHigh = Le16(p + 20);
  e.writeTime = Le16(p + 22);
  e.writeDate = Le16(p + 24);
  e.clusterLow = Le16(p + 26);
  e.size = Le32(p + 28);
  return e;
}

void EncodeDirEntry(const DirEntry& e, std::uint8_t* p) {
  std::memcpy(p, e.name, 11);
  p[11] = e.attributes;
  p[12] = e.caseFlags;
  p[13] = e.createTenths;
  PutLe16(p + 14, e.createTime);
  PutLe16(p + 16, e.createDate);
  PutLe16(p + 18, e.accessDate);
  PutLe16(p + 20, e.clusterHigh);
  PutLe16(p + 22, e.writeTime);
  PutLe16(p + 24, e.writeDate);
  PutLe16(p + 26, e.clusterLow);
  PutLe32(p + 28, e.size);
}

std::string ShortNameText(const DirEntry& e) {
  std::string base;
  std::string ext;
  for (int i = 0; i < 8; ++i) base += static_cast<char>(e.name[i]);
  for (int i = 8; i < 11; ++i) ext += static_cast<char>(e.name[i]);
  if (!base.empty() && static_cast<unsigned char>(base[0]) == kEntryKanji) base[0] = static_cast<char>(kEntryDeleted);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  while (!ext.empty() && ext.back() == ' ') ext.pop_back();
  auto lower = [](std::string& s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
  };
  if ((e.caseFlags & kLowerBase) != 0) lower(base);
  if ((e.caseFlags & kLowerExtension) != 0) lower(ext);
  return NameFromOem(ext.empty() ? base : base + "." + ext);
}

std::uint8_t ShortNameChecksum(const std::uint8_t name[11]) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

void LongNameCollector::Add(const std::uint8_t* entry) {
  const int ord = entry[0];
  const int seq = ord & 0x1F;
  if ((ord & 0x40) != 0) {
    valid_ = seq >= 1 && seq <= 20 && (ord & 0xA0) == 0;
    expected_ = seq;
    count_ = seq;
    checksum_ = entry[13];
    for (auto& part : parts_) part.clear();
  } else if (!valid_ || seq != expected_ || entry[13] != checksum_ || seq == 0) {
    valid_ = false;
    return;
  }
  if (!valid_) return;
  std::u16string part;
  for (int offset : kLfnCharOffsets) part += static_cast<char16_t>(Le16(entry + offset));
  parts_[seq - 1] = part;
  expected_ = seq - 1;
}

bool LongNameCollector::Take(const std::uint8_t shortName[11], std::u16string* name) {
  const bool complete = valid_ && expected_ == 0 && checksum_ == ShortNameChecksum(shortName);
  valid_ = false;
  expected_ = 0;
  if (!complete) return false;
  std::u16string all;
  for (int i = 0; i < count_; ++i) all += parts_[i];
  const auto end = all.find(u'\0');
  if (end != std::u16string::npos) all.resize(end);
  if (all.empty() || all.size() > 255) return false;
  *name = all;
  return true;
}

bool SameName(const std::string& a, const std::string& b) { return SameNameText(a, b); }

std::string FoldName(const std::string& name) { return FoldNameText(name); }

std::uint64_t FoldedNameHash(std::int32_t folder, std::string_view name) {
  // FNV-1a over the folder's index and the folded bytes.
  std::uint64_t h = 0xcbf29ce484222325ull;
  auto mix = [&h](std::uint8_t byte) {
    h ^= byte;
    h *= 0x100000001b3ull;
  };
  for (int i = 0; i < 4; ++i) mix(static_cast<std::uint8_t>(static_cast<std::uint32_t>(folder) >> (8 * i)));
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    // The common case, folded in place.
    for (char c : name) mix(static_cast<std::uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c));
  } else {
    for (char c : FoldNameText(name)) mix(static_cast<std::uint8_t>(c));
  }
  return h;
}

bool StoreAsShortName(const std::string& name, std::uint8_t out[11], std::uint8_t* caseFlags) {
  const auto dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && (ext.empty() || ext.find('.') != std::string::npos)) return false;
  std::uint8_t flags = 0;
  auto part = [&flags](const std::string& s, std::uint8_t lowerFlag) {
    bool upper = false;
    bool lower = false;
    for (char c : s) {
      if (c >= 'a' && c <= 'z') lower = true;
      if (c >= 'A' && c <= 'Z') upper = true;
      if (!ShortNameChar(Upper(c))) return false;
    }
    if (upper && lower) return false;
    if (lower) flags |= lowerFlag;
    return true;
  };
  if (!part(base, kLowerBase) || !part(ext, kLowerExtension)) return false;
  std::memset(out, ' ', 11);
  for (std::size_t i = 0; i < base.size(); ++i) out[i] = static_cast<std::uint8_t>(Upper(base[i]));
  for (std::size_t i = 0; i < ext.size(); ++i) out[8 + i] = static_cast<std::uint8_t>(Upper(ext[i]));
  if (out[0] == kEntryDeleted) out[0] = kEntryKanji;
  *caseFlags = flags;
  return true;
}

void MakeShortAlias(const std::string& longName, int n, std::uint8_t out[11]) {
  std::memset(out, ' ', 11);
  const auto dot = longName.rfind('.');
  const std::string base = dot == std::string::npos || dot == 0 ? longName : longName.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? std::string() : longName.substr(dot + 1);
  std::string cleanBase;
  for (char c : base) {
    if (ShortNameChar(Upper(c))) cleanBase += Upper(c);
  }
  if (cleanBase.empty()) cleanBase = "_";
  const std::string tail = "~" + std::to_string(n);
  if (cleanBase.size() + tail.size() > 8) cleanBase.resize(8 - tail.size());
  cleanBase += tail;
  for (std::size_t i = 0; i < cleanBase.size(); ++i) out[i] = static_cast<std::uint8_t>(cleanBase[i]);
  std::size_t e = 0;
  for (char c : ext) {
    if (e < 3 && ShortNameChar(Upper(c))) out[8 + e++] = static_cast<std::uint8_t>(Upper(c));
  }
}

std::vector<std::array<std::uint8_t, kDirEntrySize>> EncodeLongName(const std::string& longName,
                                                                      std::uint8_t checksum) {
  std::u16string wide;
  if (!NameToUtf16(longName, &wide)) {
    // Not name text: kept byte for byte, so nothing is lost.
    wide.clear();
    for (char c : longName) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  }
  const std::size_t parts = (wide.size() + 12) / 13;
  std::vector<std::array<std::uint8_t, kDirEntrySize>> entries;
  for (std::size_t k = parts; k >= 1; --k) {
    std::array<std::uint8_t, kDirEntrySize> e{};
    e[0] = static_cast<std::uint8_t>(k | (k == parts ? 0x40 : 0));
    e[11] = kAttrLongName;
    e[13] = checksum;
    for (int i = 0; i < 13; ++i) {
      const std::size_t at = (k - 1) * 13 + static_cast<std::size_t>(i);
      const std::uint16_t c = at < wide.size() ? wide[at] : at == wide.size() ? 0x0000 : 0xFFFF;
      PutLe16(e.data() + kLfnCharOffsets[i], c);
    }
    entries.push_back(e);
  }
  return entries;
}

}  // namespace platform::fat
