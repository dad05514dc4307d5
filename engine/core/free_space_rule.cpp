// The free-space minimum per volume.
#include "core/free_space_rule.h"

#include <atomic>
#include <cctype>

namespace vexa {
namespace {

std::atomic<std::uint32_t> gMappedLetters{0};  // bit n: letter 'A' + n is mapped
std::atomic<std::uint64_t> gMappedMinimum{kDefaultMinimumFreeBytes};

int LetterBit(char letter) {
  const int up = std::toupper(static_cast<unsigned char>(letter));
  return up >= 'A' && up <= 'Z' ? up - 'A' : -1;
}

}  // namespace

void SetMappedLetters(const std::string& letters) {
  std::uint32_t bits = 0;
  for (char letter : letters) {
    if (const int bit = LetterBit(letter); bit >= 0) bits |= 1u << bit;
  }
  gMappedLetters.store(bits, std::memory_order_relaxed);
}

void SetMappedMinimumFreeBytes(std::uint64_t bytes) { gMappedMinimum.store(bytes, std::memory_order_relaxed); }

void ResetFreeSpaceRule() {
  gMappedLetters.store(0, std::memory_order_relaxed);
  gMappedMinimum.store(kDefaultMinimumFreeBytes, std::memory_order_relaxed);
}

std::uint64_t MinimumFreeBytes(char letter) {
  const int bit = LetterBit(letter);
  const bool mapped = bit >= 0 && (gMappedLetters.load(std::memory_order_relaxed) & (1u << bit)) != 0;
  return mapped ? gMappedMinimum.load(std::memory_order_relaxed) : kDefaultMinimumFreeBytes;
}

}  // namespace vexa
