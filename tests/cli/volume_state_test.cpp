// The lost-space line and its remedy for each kind of volume, and the reclaim's sizes.
#include "volume_state.h"

#include <gtest/gtest.h>

namespace cli {
namespace {

TEST(LostSpaceTextTest, LostSpaceIsNamedWithTheRemedyThatFreesIt) {
  LostSpace lost;
  EXPECT_EQ(LostSpaceLine('C', lost), "") << "not known: nothing said";
  lost.known = true;
  EXPECT_EQ(LostSpaceLine('C', lost), "") << "none lost";
  lost.clusters = 2;
  lost.bytes = 4096;
  EXPECT_EQ(LostSpaceLine('C', lost),
            "C: 2 clusters (4.00 KiB) are marked in use but owned by no file or folder; run fsck.fat -a on the volume "
            "to free them");
  lost.exfat = true;
  EXPECT_EQ(LostSpaceLine('E', lost),
            "E: 2 clusters (4.00 KiB) are marked in use but owned by no file or folder; this program did not claim "
            "them, and fsck.exfat does not free them: the space stays unusable");
  lost.ours = true;
  lost.clusters = 1;
  lost.bytes = 32768;
  EXPECT_EQ(LostSpaceLine('E', lost),
            "E: 1 cluster (32.00 KiB) is marked in use but owned by no file or folder; an interrupted job of this "
            "program left them: the next defrag, optimize, contig or put gives them back");
}

TEST(LostSpaceTextTest, SizesHaveTwoDecimals) {
  EXPECT_EQ(TwoDecimalSize(1), "1 byte");
  EXPECT_EQ(TwoDecimalSize(512), "512 bytes");
  EXPECT_EQ(TwoDecimalSize(1024), "1.00 KiB");
  EXPECT_EQ(TwoDecimalSize(4402341478ull), "4.10 GiB");
}

}  // namespace
}  // namespace cli
