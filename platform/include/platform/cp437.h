// Code page 437, the OEM code page of 8.3 names (Linux's FAT driver reads them so by default).
#pragma once

#include <cstdint>

namespace platform {

// The character byte `b` stands for; bytes below 0x80 are ASCII.
char16_t Cp437ToUnicode(std::uint8_t b);

// The byte that stands for `c` in code page 437 into *out; false when it has none.
[[nodiscard]] bool UnicodeToCp437(char16_t c, std::uint8_t* out);

}  // namespace platform
