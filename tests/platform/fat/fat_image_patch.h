// Byte patches on FAT images for the corrupt-image tests: BPB fields and FAT entries.
#pragma once

#include <cstdint>
#include <vector>

namespace fattest {

inline std::uint32_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
inline std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return Get16(b, at) | (Get16(b, at + 2) << 16);
}
inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

// Where the FATs lie in an image, from its BPB; `bits` is 12, 16 or 32 as given.
struct FatPlace {
  std::size_t fat0;
  std::size_t fatBytes;
  int copies;
  int bits;
};

inline FatPlace PlaceOf(const std::vector<std::uint8_t>& b, int bits) {
  const std::size_t bps = Get16(b, 11);
  const std::size_t sectors = Get16(b, 22) != 0 ? Get16(b, 22) : Get32(b, 36);
  return {Get16(b, 14) * bps, sectors * bps, b[16], bits};
}

// Sets a FAT entry in `copy` (-1: every copy).
inline void SetFat(std::vector<std::uint8_t>& b, int bits, std::uint32_t cluster, std::uint32_t value, int copy = -1) {
  const FatPlace p = PlaceOf(b, bits);
  for (int k = 0; k < p.copies; ++k) {
    if (copy >= 0 && k != copy) continue;
    const std::size_t base = p.fat0 + k * p.fatBytes;
    if (bits == 16) {
      Put16(b, base + cluster * 2, value);
    } else if (bits == 32) {
      Put32(b, base + cluster * 4, value);
    } else {
      const std::size_t at = base + cluster + cluster / 2;
      std::uint32_t pair = Get16(b, at);
      pair = (cluster & 1) != 0 ? (pair & 0x000F) | (value << 4) : (pair & 0xF000) | (value & 0xFFF);
      Put16(b, at, pair);
    }
  }
}

inline std::uint32_t GetFat(const std::vector<std::uint8_t>& b, int bits, std::uint32_t cluster, int copy = 0) {
  const FatPlace p = PlaceOf(b, bits);
  const std::size_t base = p.fat0 + copy * p.fatBytes;
  if (bits == 16) return Get16(b, base + cluster * 2);
  if (bits == 32) return Get32(b, base + cluster * 4) & 0x0FFFFFFF;
  const std::uint32_t pair = Get16(b, base + cluster + cluster / 2);
  return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
}

// Byte offset of the folder entry named `name11` (11 bytes, space padded) anywhere in
// the image; the image must hold it once.
inline std::size_t EntryOffset(const std::vector<std::uint8_t>& b, const char* name11) {
  for (std::size_t at = 0; at + 32 <= b.size(); at += 32) {
    if (std::equal(name11, name11 + 11, b.begin() + static_cast<std::ptrdiff_t>(at)) && b[at + 11] != 0x0F) return at;
  }
  return 0;
}

}  // namespace fattest
