// Files a defragmentation leaves in pieces, on simulated volumes through the exports:
// files that change while they are moved, files no free run holds, excluded files,
// refused moves and stops, each named with its reason by VexaListLeftFragmented.
#include "defrag/left_fragmented.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using platform::sim::ClusterRun;
using platform::sim::SimVolume;

constexpr std::uint32_t kCluster = 4096;

struct Listed {
  std::string path;
  VexaLeftFile file;
};

void Collect(const char* path, const VexaLeftFile* file, void* context) {
  static_cast<std::vector<Listed>*>(context)->push_back({path, *file});
}

class LeftFragmentedTest : public test::JobTest {
 protected:
  SimVolume& VolumeWithFreeRuns(char letter, std::int64_t total, const std::vector<ClusterRun>& free) {
    return JobTest::VolumeWithFreeRuns(letter, "FAT32", total, kCluster, free);
  }
  static std::vector<ClusterRun> Pieces(std::int64_t first, int count, std::int64_t gap) {
    std::vector<ClusterRun> runs;
    for (int i = 0; i < count; ++i) runs.push_back({first + i * gap, 1});
    return runs;
  }
  std::vector<Listed> Left(char letter) {
    std::vector<Listed> files;
    const int32_t count = VexaListLeftFragmented(letter, &Collect, &files);
    EXPECT_EQ(count, static_cast<int32_t>(files.size()));
    return files;
  }
};

TEST_F(LeftFragmentedTest, AFileThatGrowsDuringItsMovesIsMovedAgainWithItsCurrentClusters) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{900, 100}});
  c.AddFile("log.txt", 3 * kCluster, Pieces(200, 3, 100));  // 200, 300, 400; 500 is in use
  int moves = 0;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    // Another program appends a cluster while the first piece moves.
    if (++moves == 1) c.GrowFile("log.txt", {500, 1});
  });
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  // The three walked pieces went to 900; the second attempt moved all four clusters
  // as one file into the smallest run that holds them (903..999).
  EXPECT_EQ(c.RunsOf("log.txt"), (std::vector<ClusterRun>{{903, 4}}));
  const std::string page = Page("defragreport1.html");
  const std::size_t row = page.find("C:\\log.txt");
  ASSERT_NE(row, std::string::npos);
  EXPECT_EQ(page.find("C:\\log.txt", row + 1), std::string::npos) << "one row for the file";
  // Its size and clusters as they are now: 16 KiB (16 KB + 1 on the page), 4 clusters.
  const std::string cell = "</div></TD><TD class=foot><div align=center>";
  EXPECT_NE(page.find(cell + "17 KB" + cell + "4" + cell, row), std::string::npos) << page.substr(row, 300);
  EXPECT_TRUE(Left('C').empty());
}

TEST_F(LeftFragmentedTest, AFileThatKeepsGrowingIsPassedOverNotReportedAsOnePiece) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{900, 100}});
  c.AddFile("log.txt", 3 * kCluster, Pieces(200, 3, 100));
  std::int64_t tail = 500;
  c.OnMove([&](const platform::MOVE_FILE_DATA& move) {
    // Every first piece's move sees the file grow by a cluster far from the rest.
    if (move.StartingVcn == 0) {
      c.GrowFile("log.txt", {tail, 1});
      tail += 10;
    }
  });
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  const auto runs = c.RunsOf("log.txt");
  ASSERT_TRUE(runs.has_value());
  EXPECT_GT(runs->size(), 1u);
  EXPECT_EQ(Page("defragreport1.html").find("C:\\log.txt"), std::string::npos)
      << "a file in pieces gets no row as if it were whole";
  const auto left = Left('C');
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, "C:\\log.txt");
  EXPECT_EQ(left[0].file.reason, VEXA_LEFT_CHANGED);
  EXPECT_EQ(left[0].file.pieces, runs->size());
  EXPECT_EQ(left[0].file.clusters, 5u);
}

TEST_F(LeftFragmentedTest, TheInDepthPassLeavesACandidateThatGrewSinceTheWalk) {
  auto& c = VolumeWithFreeRuns('C', 10000, {{100, 50}, {300, 150}});
  c.AddFile("big.bin", 100 * kCluster, {{5000, 100}});
  c.AddFile("small.bin", 10 * kCluster, {{6000, 10}});
  bool grown = false;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    // The first move is the in-depth pass's of big.bin: small.bin grows meanwhile.
    if (!grown) c.GrowFile("small.bin", {7000, 1});
    grown = true;
  });
  Start();
  ASSERT_EQ(DLL_OptimizedDefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("big.bin"), (std::vector<ClusterRun>{{300, 100}}));
  // Moving the ten clusters the walk saw would leave the new one behind.
  EXPECT_EQ(c.RunsOf("small.bin"), (std::vector<ClusterRun>{{6000, 10}, {7000, 1}}));
  const std::string page = Page("defragreport1.html");
  EXPECT_NE(page.find("C:\\big.bin"), std::string::npos);
  EXPECT_EQ(page.find("C:\\small.bin"), std::string::npos);
}

TEST_F(LeftFragmentedTest, AFileAtLeastAsLargeAsTheLargestFreeRunStaysFragmentedAndIsNamed) {
  // Free runs of 10 and 8 clusters; 12 single clusters for the large file.
  auto& c = VolumeWithFreeRuns('C', 1000, {{10, 10}, {40, 8}});
  c.AddFile("GAMES\\large.iso", 12 * kCluster, Pieces(100, 12, 20));
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("GAMES\\large.iso"), Pieces(100, 12, 20));
  const auto left = Left('C');
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].path, "C:\\GAMES\\large.iso");
  EXPECT_EQ(left[0].file.reason, VEXA_LEFT_NO_RUN);
  EXPECT_EQ(left[0].file.pieces, 12u);
  EXPECT_EQ(left[0].file.clusters, 12u);
  EXPECT_EQ(left[0].file.largestFreeRun, 10u);
  EXPECT_EQ(Page("defragreport1.html").find("large.iso"), std::string::npos);
}

TEST_F(LeftFragmentedTest, AFileAsLargeAsTheLargestFreeRunFillsIt) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{10, 10}, {40, 8}});
  c.AddFile("exact.iso", 10 * kCluster, Pieces(100, 10, 20));
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("exact.iso"), (std::vector<ClusterRun>{{10, 10}}));
  EXPECT_TRUE(Left('C').empty());
}

TEST_F(LeftFragmentedTest, ExcludedFilesInPiecesAreNamedAndOnesInOnePieceAreNot) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{900, 100}});
  c.AddFile("setup.exe", 2 * kCluster, {{200, 1}, {300, 1}});
  c.AddFile("whole.exe", 2 * kCluster, {{310, 2}});
  c.AddFile("MyRECYCLER\\deep\\x.bin", 2 * kCluster, {{400, 1}, {500, 1}});
  c.AddFile("free.bin", 2 * kCluster, {{600, 1}, {700, 1}});
  test::WriteFile(dir.File("preset.ini"), "[folder]\r\nRECYCLER\r\n[file]\r\n[type]\r\nexe");
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("free.bin"), (std::vector<ClusterRun>{{900, 2}}));
  const auto left = Left('C');
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].path, "C:\\setup.exe");
  EXPECT_EQ(left[1].path, "C:\\MyRECYCLER\\deep\\x.bin");
  for (const Listed& file : left) {
    EXPECT_EQ(file.file.reason, VEXA_LEFT_EXCLUDED);
    EXPECT_EQ(file.file.pieces, 2u);
  }
  // Searched for the list, the excluded files are still neither moved nor given rows.
  EXPECT_EQ(c.RunsOf("setup.exe")->size(), 2u);
  EXPECT_EQ(c.RunsOf("MyRECYCLER\\deep\\x.bin")->size(), 2u);
  EXPECT_EQ(Page("defragreport1.html").find("x.bin"), std::string::npos);
}

TEST_F(LeftFragmentedTest, RefusedMovesNameSystemFilesAndTheError) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{900, 100}});
  c.AddFile("IO.SYS", 2 * kCluster, {{200, 1}, {300, 1}}, platform::kAttributeSystem);
  c.AddFile("plain.bin", 2 * kCluster, {{400, 1}, {500, 1}});
  c.RefuseMoves();
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  const auto left = Left('C');
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].file.reason, VEXA_LEFT_SYSTEM);
  EXPECT_EQ(left[1].file.reason, VEXA_LEFT_MOVE_FAILED);
  EXPECT_EQ(left[1].file.error, platform::kErrorAccessDenied);
}

TEST_F(LeftFragmentedTest, AStopNamesTheFileBeingMovedAndTheNextJobStartsAFreshList) {
  auto& c = VolumeWithFreeRuns('C', 1000, {{900, 100}});
  c.AddFile("a.bin", 3 * kCluster, {{200, 1}, {300, 1}, {400, 1}});
  c.AddFile("b.bin", 2 * kCluster, {{500, 1}, {600, 1}});
  int moves = 0;
  c.OnMove([&](const platform::MOVE_FILE_DATA&) {
    if (++moves == 2) DLL_WorkingStop();
  });
  Start();
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  auto left = Left('C');
  ASSERT_EQ(left.size(), 1u) << "b.bin was never reached";
  EXPECT_EQ(left[0].path, "C:\\a.bin");
  EXPECT_EQ(left[0].file.reason, VEXA_LEFT_STOPPED);
  EXPECT_EQ(left[0].file.pieces, 2u);
  EXPECT_EQ(VexaListLeftFragmented('D', &Collect, &left), 0);

  c.OnMove(nullptr);
  ASSERT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_TRUE(Left('C').empty());
  EXPECT_EQ(c.RunsOf("a.bin"), (std::vector<ClusterRun>{{902, 3}}));
}

}  // namespace
}  // namespace vexa
