// The fingerprint of a volume's allocation.
#include "core/allocation_fingerprint.h"

#include "analysis/volume_access.h"

namespace vexa {
namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;

void Mix(std::uint64_t* hash, std::uint8_t byte) {
  *hash ^= byte;
  *hash *= kFnvPrime;
}

}  // namespace

std::uint64_t BitmapFingerprint(const std::uint8_t* bits, std::int64_t clusters) {
  std::uint64_t hash = kFnvOffset;
  const auto count = static_cast<std::uint64_t>(clusters < 0 ? 0 : clusters);
  for (int i = 0; i < 8; ++i) Mix(&hash, static_cast<std::uint8_t>(count >> (8 * i)));
  const std::uint64_t whole = count / 8;
  for (std::uint64_t i = 0; i < whole; ++i) Mix(&hash, bits[i]);
  if (const unsigned rest = count % 8; rest != 0) {
    Mix(&hash, static_cast<std::uint8_t>(bits[whole] & ((1u << rest) - 1)));
  }
  return hash;
}

std::optional<std::uint64_t> VolumeFingerprint(platform::Machine& machine, platform::Handle volume) {
  BitmapBuffer buffer;
  std::int64_t clusters = 0;
  if (!ReadBitmap(machine, volume, buffer, &clusters)) return std::nullopt;
  return BitmapFingerprint(buffer.Bits(), clusters);
}

}  // namespace vexa
