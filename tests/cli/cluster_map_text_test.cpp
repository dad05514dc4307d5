// The cluster map in the terminal: the text for a known map, the colour choice, and the
// escapes of each colour depth.
#include "cluster_map_text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace cli {
namespace {

MapVolume SmallVolume() {
  MapVolume volume;
  volume.letter = 'C';
  volume.fileSystem = "FAT12";
  volume.totalClusters = 2000;
  volume.bytesPerCluster = 512;
  volume.clustersPerCell = 2;
  return volume;
}

TEST(ClusterMapText, LettersShowEachCodeAndTheLegendCountsThem) {
  std::int32_t codes[VEXA_MAP_CELLS] = {};
  for (int i = 0; i < 50; ++i) codes[i] = VEXA_COLOR_CONTIGUOUS;  // the first row
  codes[50] = VEXA_COLOR_FRAGMENTED;
  codes[51] = VEXA_COLOR_FRAGMENTED_RECENT;
  codes[52] = VEXA_COLOR_SYSTEM;
  codes[53] = VEXA_COLOR_PARTLY_CONTIGUOUS;
  codes[999] = 17;  // an unknown code paints as free, as in the window
  std::string expected = "Cluster map of C: FAT12, 1000 KiB in 2,000 clusters of 512 bytes; 2 clusters per cell\n";
  expected += std::string(50, 'o') + "\n";
  expected += "#!s+" + std::string(46, '.') + "\n";
  for (int row = 2; row < 20; ++row) expected += std::string(50, '.') + "\n";
  expected += "\n"
              "  # Fragmented                              1 cell\n"
              "  ! Fragmented (recently defragmented)      1 cell\n"
              "  + Partly contiguous                       1 cell\n"
              "  o Contiguous                             50 cells\n"
              "  s System                                  1 cell\n"
              "  . Free                                  946 cells\n";
  EXPECT_EQ(MapText("Cluster map of C:", codes, SmallVolume(), MapColours::kLetters), expected);
  EXPECT_EQ(MapLetter(VEXA_COLOR_EMPTY), '.');
  EXPECT_EQ(MapLetter(VEXA_COLOR_FRAGMENTED), '#');
}

TEST(ClusterMapText, ColoursUseTheWindowsCellColoursAtEachDepth) {
  std::int32_t codes[VEXA_MAP_CELLS] = {};
  codes[0] = VEXA_COLOR_FRAGMENTED;
  codes[1] = VEXA_COLOR_FRAGMENTED;
  codes[2] = VEXA_COLOR_CONTIGUOUS;
  const std::string full = MapText("C:", codes, SmallVolume(), MapColours::kTrueColour);
  // One escape per run of equal cells: two orange blocks, then green, then white.
  const std::string block = "\xE2\x96\xA0";
  EXPECT_NE(full.find("\x1b[38;2;255;114;0m" + block + block + "\x1b[38;2;49;179;70m" + block +
                      "\x1b[38;2;255;255;255m" + block),
            std::string::npos);
  EXPECT_NE(full.find("\x1b[38;2;46;148;186m" + block + "\x1b[0m System"), std::string::npos) << "legend in colour";
  EXPECT_EQ(full.find('#'), std::string::npos) << "no letters among colours";
  EXPECT_NE(MapText("C:", codes, SmallVolume(), MapColours::k256).find("\x1b[38;5;202m"), std::string::npos)
      << "orange in the 256-colour cube";
  EXPECT_NE(MapText("C:", codes, SmallVolume(), MapColours::k256).find("\x1b[38;5;231m"), std::string::npos)
      << "free cells white";
  EXPECT_NE(MapText("C:", codes, SmallVolume(), MapColours::k16).find("\x1b[32m"), std::string::npos);
  // Every row ends with a reset, so the colour never bleeds into the next line.
  EXPECT_NE(full.find("\x1b[0m\n"), std::string::npos);
  // The wide form spaces the cells out (49 gaps a row); letters never are.
  const std::string wide = MapText("C:", codes, SmallVolume(), MapColours::kTrueColour, true);
  EXPECT_NE(wide.find(block + " " + block + " \x1b[38;2;49;179;70m" + block + " "), std::string::npos);
  EXPECT_EQ(MapText("C:", codes, SmallVolume(), MapColours::kLetters, true),
            MapText("C:", codes, SmallVolume(), MapColours::kLetters, false));
}

TEST(ClusterMapText, ColourDepthFollowsTheTerminalAndNoColor) {
  EXPECT_EQ(ChooseMapColours(false, nullptr, "truecolor", "xterm-256color"), MapColours::kLetters);  // a pipe
  EXPECT_EQ(ChooseMapColours(true, "1", "truecolor", "xterm-256color"), MapColours::kLetters);
  EXPECT_EQ(ChooseMapColours(true, "", "truecolor", "xterm"), MapColours::kTrueColour);  // empty NO_COLOR is unset
  EXPECT_EQ(ChooseMapColours(true, nullptr, "24bit", "xterm"), MapColours::kTrueColour);
  EXPECT_EQ(ChooseMapColours(true, nullptr, nullptr, "screen-256color"), MapColours::k256);
  EXPECT_EQ(ChooseMapColours(true, nullptr, nullptr, "xterm"), MapColours::k16);
  EXPECT_EQ(ChooseMapColours(true, nullptr, nullptr, "dumb"), MapColours::kLetters);
}

TEST(ClusterMapText, JsonHasTheThousandCodesInOrder) {
  std::int32_t codes[VEXA_MAP_CELLS] = {};
  codes[0] = 4;
  codes[999] = 5;
  const std::string json = MapCodesJson(codes);
  EXPECT_EQ(json.substr(0, 6), "[4,0,0");
  EXPECT_EQ(json.substr(json.size() - 5), ",0,5]");
  EXPECT_EQ(std::count(json.begin(), json.end(), ','), VEXA_MAP_CELLS - 1);
}

}  // namespace
}  // namespace cli
