// Status texts and progress length from the engine's status record.
#include "model/status_texts.h"

#include <gtest/gtest.h>

#include <cstring>

namespace shell {
namespace {

VexaWorkingStatus Record(std::int32_t state, char letter, const char* name = "", std::int32_t range = 100,
                         std::int32_t position = 0, std::uint64_t source = 0, std::uint64_t target = 0) {
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

TEST(StatusTextsTest, TextsFollowTheStatusStateExactly) {
  PollView scan = ReadStatus(Record(1, 'E', "BIG.DAT", 100, 37), 'C');
  EXPECT_EQ(scan.stateText, "Scanning  E drive.");
  EXPECT_EQ(scan.clusterText, "");
  EXPECT_EQ(scan.fileText, "");
  EXPECT_EQ(scan.drive, 'E');
  EXPECT_EQ(scan.progressLength, 222);

  PollView defrag = ReadStatus(Record(2, 'D', "BIG.DAT", 100, 50, 1234, 99), 0);
  EXPECT_EQ(defrag.stateText, "Defragmenting  D drive.");
  EXPECT_EQ(defrag.clusterText, "moving cluster(s) 1234 to 99");
  EXPECT_EQ(defrag.fileText, "moving file(s) BIG.DAT");

  PollView deep = ReadStatus(Record(3, 'F', "A.TXT", 10, 5, 0, 0), 0);
  EXPECT_EQ(deep.stateText, "In-depth Defragmenting  F drive.");
  EXPECT_EQ(deep.clusterText, "Checking fragments...");
  EXPECT_EQ(deep.fileText, "moving file(s) A.TXT");
  EXPECT_EQ(deep.progressLength, 300);

  // Only both numbers 0 mean no move; a source of 0 is a real cluster.
  EXPECT_EQ(ReadStatus(Record(2, 'D', "", 100, 0, 0, 7), 0).clusterText, "moving cluster(s) 0 to 7");
  // Cluster numbers beyond 32 bits are written whole.
  EXPECT_EQ(ReadStatus(Record(2, 'D', "", 100, 0, 5000000000ULL, 4294967296ULL), 0).clusterText,
            "moving cluster(s) 5000000000 to 4294967296");
}

TEST(StatusTextsTest, StatesOutsideTheKnownFourReadAsInDepth) {
  // Any nonzero state past 2 names the in-depth job, with its move texts.
  PollView later = ReadStatus(Record(4, 'G', "B.BIN", 100, 10, 8, 9), 0);
  EXPECT_EQ(later.stateText, "In-depth Defragmenting  G drive.");
  EXPECT_EQ(later.clusterText, "moving cluster(s) 8 to 9");
  EXPECT_EQ(later.fileText, "moving file(s) B.BIN");
  EXPECT_FALSE(later.engineIdle);
  // A negative state is nonzero too, but below 2: no move texts.
  PollView negative = ReadStatus(Record(-1, 'G', "B.BIN", 100, 10, 8, 9), 0);
  EXPECT_EQ(negative.stateText, "In-depth Defragmenting  G drive.");
  EXPECT_EQ(negative.clusterText, "");
  EXPECT_EQ(negative.fileText, "");
  EXPECT_EQ(negative.progressLength, 60);
}

TEST(StatusTextsTest, IdleEngineGivesAFullBarEmptyTextsAndKeepsTheDrive) {
  PollView idle = ReadStatus(Record(0, 'E', "X", 100, 10), 'C');
  EXPECT_TRUE(idle.engineIdle);
  EXPECT_EQ(idle.progressLength, 600);
  EXPECT_EQ(idle.stateText, "");
  EXPECT_EQ(idle.clusterText, "");
  EXPECT_EQ(idle.fileText, "");
  EXPECT_EQ(idle.drive, 'C');
}

TEST(StatusTextsTest, ARecordWithoutALetterKeepsThePreviousDrive) {
  PollView view = ReadStatus(Record(1, 0), 'G');
  EXPECT_EQ(view.drive, 'G');
  EXPECT_EQ(view.stateText, "Scanning  G drive.");
}

TEST(StatusTextsTest, ProgressLengthEdges) {
  EXPECT_EQ(ProgressLength(50, 0), 0);        // no range: empty for that poll
  EXPECT_EQ(ProgressLength(150, 100), 600);   // past the range: full
  EXPECT_EQ(ProgressLength(-1, 100), 0);      // percentage could not be formed
  EXPECT_EQ(ProgressLength(1, 100), 6);       // six pixels per percent
  EXPECT_EQ(ProgressLength(599, 600), 599);
  // position x 600 overflows 32 bits here; the result must still be 540.
  EXPECT_EQ(ProgressLength(3600000, 4000000), 540);
  EXPECT_EQ(ProgressLength(2147483647, 2147483647), 600);
  EXPECT_EQ(ProgressLength(5, -10), 0);
}

TEST(StatusTextsTest, AnUnterminatedNameIsReadWithinItsField) {
  VexaWorkingStatus status = Record(2, 'C');
  std::memset(status.currentName, 'N', sizeof status.currentName);
  status.padding1[0] = 'X';
  PollView view = ReadStatus(status, 0);
  EXPECT_EQ(view.fileText, "moving file(s) " + std::string(500, 'N'));
}

}  // namespace
}  // namespace shell
