// The cluster map as terminal text.
#include "cluster_map_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "command_line.h"

namespace cli {
namespace {

constexpr int kColumns = 50;  // as the window's grid

struct CodeLook {
  std::int32_t code;
  const char* name;      // the window's legend
  std::uint32_t rgb;     // the window's cell picture
  char letter;
  int basic;             // SGR foreground of the 16-colour palette
};

// In the order of the window's legend.
constexpr CodeLook kLooks[] = {
    {VEXA_COLOR_FRAGMENTED, "Fragmented", 0xFF7200, '#', 33},
    {VEXA_COLOR_FRAGMENTED_RECENT, "Fragmented (recently defragmented)", 0xE60000, '!', 31},
    {VEXA_COLOR_PARTLY_CONTIGUOUS, "Partly contiguous", 0x919191, '+', 90},
    {VEXA_COLOR_CONTIGUOUS, "Contiguous", 0x31B346, 'o', 32},
    {VEXA_COLOR_SYSTEM, "System", 0x2E94BA, 's', 36},
    // A free cell is the white ground of the window's grid.
    {VEXA_COLOR_EMPTY, "Free", 0xFFFFFF, '.', 97},
};

const CodeLook& LookOf(std::int32_t code) {
  for (const CodeLook& look : kLooks) {
    if (look.code == code) return look;
  }
  return kLooks[5];  // an unknown code paints as blank, as the window does
}

// The xterm 256-colour index nearest `rgb`: the 6x6x6 cube or the grey ramp.
int Index256(std::uint32_t rgb) {
  const int r = static_cast<int>(rgb >> 16 & 0xFF), g = static_cast<int>(rgb >> 8 & 0xFF), b = static_cast<int>(rgb & 0xFF);
  static constexpr int kLevels[] = {0, 95, 135, 175, 215, 255};
  auto level = [](int v) {
    int best = 0;
    for (int i = 1; i < 6; ++i) {
      if (std::abs(kLevels[i] - v) < std::abs(kLevels[best] - v)) best = i;
    }
    return best;
  };
  const int cr = level(r), cg = level(g), cb = level(b);
  auto distance = [&](int x, int y, int z) { return (x - r) * (x - r) + (y - g) * (y - g) + (z - b) * (z - b); };
  const int cube = distance(kLevels[cr], kLevels[cg], kLevels[cb]);
  const int grey = std::min(23, std::max(0, ((r + g + b) / 3 - 8 + 5) / 10));
  const int greyValue = 8 + 10 * grey;
  if (distance(greyValue, greyValue, greyValue) < cube) return 232 + grey;
  return 16 + 36 * cr + 6 * cg + cb;
}

std::string ColourOn(const CodeLook& look, MapColours colours) {
  char text[32];
  switch (colours) {
    case MapColours::kTrueColour:
      std::snprintf(text, sizeof text, "\x1b[38;2;%u;%u;%um", look.rgb >> 16 & 0xFF, look.rgb >> 8 & 0xFF,
                    look.rgb & 0xFF);
      return text;
    case MapColours::k256:
      std::snprintf(text, sizeof text, "\x1b[38;5;%dm", Index256(look.rgb));
      return text;
    case MapColours::k16:
      std::snprintf(text, sizeof text, "\x1b[%dm", look.basic);
      return text;
    case MapColours::kLetters:
      break;
  }
  return "";
}

// U+25A0 BLACK SQUARE: one cell, with a gap around it as the window's grid has.
constexpr char kCell[] = "\xE2\x96\xA0";
constexpr char kReset[] = "\x1b[0m";

}  // namespace

MapColours ChooseMapColours(bool terminal, const char* noColor, const char* colorTerm, const char* term) {
  if (!terminal || (noColor != nullptr && noColor[0] != 0)) return MapColours::kLetters;
  const std::string t = term != nullptr ? term : "";
  if (t == "dumb") return MapColours::kLetters;
  const std::string c = colorTerm != nullptr ? colorTerm : "";
  if (c == "truecolor" || c == "24bit") return MapColours::kTrueColour;
  if (t.find("256color") != std::string::npos || t.find("direct") != std::string::npos) return MapColours::k256;
  return MapColours::k16;
}

char MapLetter(std::int32_t code) { return LookOf(code).letter; }

std::string MapText(const std::string& title, const std::int32_t (&codes)[VEXA_MAP_CELLS], const MapVolume& volume,
                    MapColours colours, bool wide) {
  std::string out = title + " " + volume.fileSystem + ", " +
                    SizeText(volume.totalClusters * volume.bytesPerCluster) + " in " +
                    GroupedNumber(volume.totalClusters) + " clusters of " + SizeText(volume.bytesPerCluster) + "; " +
                    GroupedNumber(volume.clustersPerCell) + (volume.clustersPerCell == 1 ? " cluster" : " clusters") +
                    " per cell\n";
  int counts[std::size(kLooks)] = {};
  for (int row = 0; row < VEXA_MAP_CELLS / kColumns; ++row) {
    const CodeLook* open = nullptr;  // the colour the row's text is in
    for (int column = 0; column < kColumns; ++column) {
      const CodeLook& look = LookOf(codes[row * kColumns + column]);
      ++counts[&look - kLooks];
      if (colours == MapColours::kLetters) {
        out += look.letter;
        continue;
      }
      if (open != &look) out += ColourOn(look, colours);
      open = &look;
      out += kCell;
      if (wide && column + 1 < kColumns) out += ' ';
    }
    if (colours != MapColours::kLetters) out += kReset;
    out += "\n";
  }
  out += "\n";
  for (std::size_t i = 0; i < std::size(kLooks); ++i) {
    const CodeLook& look = kLooks[i];
    std::string mark = colours == MapColours::kLetters ? std::string(1, look.letter)
                                                        : ColourOn(look, colours) + kCell + kReset;
    char line[96];
    std::snprintf(line, sizeof line, " %-36s %4d %s\n", look.name, counts[i], counts[i] == 1 ? "cell" : "cells");
    out += "  " + mark + line;
  }
  return out;
}

std::string MapCodesJson(const std::int32_t (&codes)[VEXA_MAP_CELLS]) {
  std::string out = "[";
  for (int i = 0; i < VEXA_MAP_CELLS; ++i) {
    if (i > 0) out += ",";
    out += std::to_string(codes[i]);
  }
  return out + "]";
}

}  // namespace cli
