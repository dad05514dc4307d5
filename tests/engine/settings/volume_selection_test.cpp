// The volume selection dialog's logic: the rows of fixed drives, the ticked count and
// the header box, and the letters "Next" hands back.
#include "settings/volume_selection.h"

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace vexa {

void PrintTo(const VolumeRow& row, std::ostream* out) { *out << row.letter << " \"" << row.size << "\""; }

namespace {

class VolumeSelectionTest : public test::EngineTest {};

TEST_F(VolumeSelectionTest, RowsAreTheFixedDrivesInLetterOrderWithTheirSizes) {
  machine.AddVolume('E', "FAT32", 262144, 4096);  // 1 GiB
  machine.AddVolume('D', "CDFS", 1000).SetDriveType(platform::kDriveCdrom);
  machine.AddVolume('C', "NTFS", 2621440, 4096);  // 10 GiB
  machine.AddVolume('F', "NTFS", 1000).FailOpenVolume();  // in the table, though it does not open
  Start();
  const std::vector<VolumeRow> rows = FixedVolumeRows();
  EXPECT_EQ(rows, (std::vector<VolumeRow>{{'C', "10.0 GB"}, {'E', "1.0 GB"}, {'F', "0.0 GB"}}));
}

TEST(VolumeSelection, HeaderBoxFollowsTheRowsWhicheverWayTheyChange) {
  VolumeSelection list(3);
  list.RowChanged(false, true);
  list.RowChanged(false, true);
  EXPECT_FALSE(list.HeaderTicked());
  list.RowChanged(false, true);
  EXPECT_TRUE(list.HeaderTicked());
  EXPECT_EQ(list.TickedCount(), 3u);
  list.RowChanged(true, false);
  EXPECT_FALSE(list.HeaderTicked());
  EXPECT_EQ(list.TickedCount(), 2u);

  // Two of three ticked: pressing the header ticks all; the rows' own notifications
  // during the press are not counted again.
  EXPECT_TRUE(list.BeginHeaderPress());
  list.RowChanged(false, true);
  list.FinishHeaderPress();
  EXPECT_TRUE(list.HeaderTicked());
  EXPECT_EQ(list.TickedCount(), 3u);
  // Pressing again unticks all.
  EXPECT_FALSE(list.BeginHeaderPress());
  for (int i = 0; i < 3; ++i) list.RowChanged(true, false);
  list.FinishHeaderPress();
  EXPECT_FALSE(list.HeaderTicked());
  EXPECT_EQ(list.TickedCount(), 0u);
  // A notification that changes nothing (a selection change) counts nothing.
  list.RowChanged(false, false);
  EXPECT_EQ(list.TickedCount(), 0u);
}

TEST(VolumeSelection, NextGivesTheTickedLettersInRowOrderOrNothing) {
  const std::vector<VolumeRow> rows = {{'C', "1.0 GB"}, {'D', ""}, {'E', "2.0 GB"}};
  EXPECT_EQ(VolumeSelection::Next(rows, {true, false, true}), "CE");  // E ticked before C: still CE
  EXPECT_EQ(VolumeSelection::Next(rows, {false, true, false}), "D");
  EXPECT_EQ(VolumeSelection::Next(rows, {false, false, false}), std::nullopt);
  EXPECT_EQ(VolumeSelection::Next({}, {}), std::nullopt);
}

}  // namespace
}  // namespace vexa
