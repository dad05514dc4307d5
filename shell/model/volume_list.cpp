// The volume list's texts and the drive-letter string.
#include "model/volume_list.h"

#include <cmath>

namespace shell {

bool ListsDrive(char letter, std::uint32_t type) {
  constexpr std::uint32_t kFixed = 3;
  return letter >= 'C' && letter <= 'Z' && type == kFixed;
}

std::string VolumeCaption(const std::string& label, char letter) { return label + "(" + letter + ":)"; }

std::string GbText(std::uint64_t bytes, char decimalSeparator) {
  const double gb = static_cast<double>(bytes) / 1024.0 / 1024.0 / 1024.0;
  // nearbyint rounds halves to even in the default rounding mode.
  const auto hundredths = static_cast<std::uint64_t>(std::nearbyint(gb * 100.0));
  std::string text = std::to_string(hundredths / 100);
  const unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    text += decimalSeparator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text + " GB";
}

std::string DriveLetterString(const std::vector<VolumeRow>& rows) {
  std::string letters;
  for (const VolumeRow& row : rows) {
    if (row.ticked && letters.size() < 26) letters += row.letter;
  }
  return letters;
}

bool HitsTickBox(unsigned hitFlags) { return (hitFlags & kHitOnItem) == kHitOnStateIcon; }

}  // namespace shell
