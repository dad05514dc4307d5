// The cluster map in the terminal: the 1000 cells as the window paints them, 50 to a row,
// in the window's colours (or one letter per colour), with a legend.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/vexa.h"

namespace cli {

// How the map's colours reach the terminal.
enum class MapColours { kLetters, k16, k256, kTrueColour };

// The colours for a stream: letters when it is no terminal, when NO_COLOR is set (to any
// non-empty text) or TERM is "dumb"; 24-bit colour when COLORTERM says "truecolor" or
// "24bit"; 256 colours when TERM names them; else the 16 basic colours. Null texts are unset.
MapColours ChooseMapColours(bool terminal, const char* noColor, const char* colorTerm, const char* term);

// What the map's heading and legend say of the volume.
struct MapVolume {
  char letter = 0;
  std::string fileSystem;           // "FAT16"
  std::uint64_t totalClusters = 0;  // used and free
  std::uint32_t bytesPerCluster = 0;
  std::uint64_t clustersPerCell = 0;
};

// The map as text: a heading line, 20 rows of 50 cells, a blank line and the legend (one
// line per colour with its name and number of cells). `title` leads the heading
// ("Cluster map of C:", "C: before", ...). In colour a cell is a small square; `wide`
// (for a terminal of 100 columns or more) puts a space after each, so the grid keeps the
// window's proportions. Letters are one to a cell.
std::string MapText(const std::string& title, const std::int32_t (&codes)[VEXA_MAP_CELLS], const MapVolume& volume,
                    MapColours colours, bool wide = false);

// The 1000 codes as a JSON array, cell 0 first.
std::string MapCodesJson(const std::int32_t (&codes)[VEXA_MAP_CELLS]);

// The letter a colour code is drawn with when colours are off ('.' free, '#' fragmented, ...).
char MapLetter(std::int32_t code);

}  // namespace cli
