// The status texts and progress length made from the engine's status record.
#include "status_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "progress_display.h"

namespace cli {
namespace {

VexaWorkingStatus Record(std::int32_t state, char letter, const char* name, std::int32_t range, std::int32_t position,
                         std::uint64_t source = 0, std::uint64_t target = 0) {
  VexaWorkingStatus status;
  std::memset(&status, 0, sizeof status);
  status.state = state;
  status.letter = letter;
  std::strncpy(status.currentName, name, sizeof status.currentName - 1);
  status.progressRange = range;
  status.progressPosition = position;
  status.moveSource = source;
  status.moveTarget = target;
  return status;
}

TEST(StatusTexts, EachStateHasItsTexts) {
  StatusTexts scan = MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "a.txt", 100, 40));
  EXPECT_EQ(scan.stateText, "Scanning  C drive.");
  EXPECT_EQ(scan.clusterText, "");
  EXPECT_EQ(scan.fileText, "");
  EXPECT_EQ(scan.progressLength, 240);

  StatusTexts defrag = MakeStatusTexts(Record(VEXA_STATE_DEFRAGMENTING, 'E', "movie.mpg", 100, 7, 12, 3400));
  EXPECT_EQ(defrag.stateText, "Defragmenting  E drive.");
  EXPECT_EQ(defrag.clusterText, "moving cluster(s) 12 to 3400");
  EXPECT_EQ(defrag.fileText, "moving file(s) movie.mpg");
  EXPECT_EQ(defrag.progressLength, 42);

  StatusTexts deep = MakeStatusTexts(Record(VEXA_STATE_OPTIMIZING, 'D', "big.bin", 300, 150));
  EXPECT_EQ(deep.stateText, "In-depth Defragmenting  D drive.");
  EXPECT_EQ(deep.progressLength, 300);
  // Any other nonzero state reads as the in-depth pass.
  EXPECT_EQ(MakeStatusTexts(Record(7, 'D', "", 1, 1)).stateText, "In-depth Defragmenting  D drive.");
}

TEST(StatusTexts, IdleGivesEmptyTextsAndAFullBar) {
  StatusTexts idle = MakeStatusTexts(Record(VEXA_STATE_IDLE, 'C', "left over", 100, 3, 5, 6));
  EXPECT_EQ(idle.stateText, "");
  EXPECT_EQ(idle.clusterText, "");
  EXPECT_EQ(idle.fileText, "");
  EXPECT_EQ(idle.progressLength, kProgressFull);
}

TEST(StatusTexts, ProgressLengthIsClampedAndARangeOfZeroLeavesItEmpty) {
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "", 0, 50)).progressLength, 0);
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "", 100, 250)).progressLength, kProgressFull);
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "", 100, -1)).progressLength, 0);
  // Integer division: 1 of 7 candidates is 85 of 600, not 86.
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_OPTIMIZING, 'C', "", 7, 1)).progressLength, 85);
  // Large in-depth counts do not overflow.
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_OPTIMIZING, 'C', "", 2000000000, 1999999999)).progressLength, 599);
}

TEST(StatusTexts, ClusterTextShowsNumbersUnlessBothAreZero) {
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_DEFRAGMENTING, 'C', "", 100, 0, 0, 0)).clusterText,
            "Checking fragments...");
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_DEFRAGMENTING, 'C', "", 100, 0, 0, 77)).clusterText,
            "moving cluster(s) 0 to 77");
  EXPECT_EQ(MakeStatusTexts(Record(VEXA_STATE_OPTIMIZING, 'C', "", 100, 0, 0, 0)).clusterText,
            "Checking fragments...");
}

TEST(StatusTexts, AnUnterminatedNameIsReadOnlyToTheEndOfItsField) {
  VexaWorkingStatus status = Record(VEXA_STATE_DEFRAGMENTING, 'C', "", 100, 0);
  std::memset(status.currentName, 'x', sizeof status.currentName);
  EXPECT_EQ(MakeStatusTexts(status).fileText, "moving file(s) " + std::string(sizeof status.currentName, 'x'));
}

// A worker that has not named its volume yet shows nothing: the first line names it.
TEST(ProgressDisplay, PlainLinesWaitForTheVolumesLetter) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ProgressDisplay display(ProgressDisplay::Mode::kPlain, out, 80);
  display.Show(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 0, "", 0, 0)));
  display.Show(MakeStatusTexts(Record(VEXA_STATE_IDLE, 0, "", 0, 0)));
  display.Show(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "", 100, 0)));
  display.Show(MakeStatusTexts(Record(VEXA_STATE_ANALYSING, 'C', "", 100, 5)));  // same tenth
  display.Show(MakeStatusTexts(Record(VEXA_STATE_DEFRAGMENTING, 'C', "a.bin", 100, 50, 3, 9)));
  std::rewind(out);
  std::string text(256, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text, "Scanning  C drive.   0%\nDefragmenting  C drive.  50%\n");
}

TEST(StatusLine, FitsTheTerminalAndKeepsTheEndOfALongName) {
  StatusTexts texts = MakeStatusTexts(
      Record(VEXA_STATE_DEFRAGMENTING, 'C', "a very long folder entry name that ends in movie-0042.mpg", 100, 50, 1, 2));
  for (int columns : {20, 40, 80, 100, 200}) {
    const std::string line = ProgressDisplay::StatusLine(texts, columns);
    EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1)) << columns;
    const std::string state = "Defragmenting  C drive.";
    const std::size_t shown = std::min(line.size(), state.size());
    EXPECT_EQ(line.substr(0, shown), state.substr(0, shown)) << line;
  }
  const std::string wide = ProgressDisplay::StatusLine(texts, 200);
  EXPECT_NE(wide.find(" 50%  moving cluster(s) 1 to 2  moving file(s) a very long"), std::string::npos) << wide;
  const std::string medium = ProgressDisplay::StatusLine(texts, 100);
  EXPECT_NE(medium.find("...that ends in movie-0042.mpg"), std::string::npos) << medium;
  EXPECT_EQ(medium.size(), 99u);
}

}  // namespace
}  // namespace cli
