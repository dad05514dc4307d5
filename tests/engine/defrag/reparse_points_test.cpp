// Name-surrogate reparse points (IsReparseTagNameSurrogate: junctions, symbolic links,
// mount points) are not followed: a junction to an ancestor does not re-walk the
// volume, a mount point does not bring another volume's files into this volume's map
// or moves, and every file is seen once.
#include <gtest/gtest.h>

#include <string>

#include "core/volume_table.h"
#include "support/job_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

constexpr std::uint32_t kCluster = 4096;

class ReparsePointTest : public test::JobTest {};

TEST_F(ReparsePointTest, AJunctionToAnAncestorAndAMountPointAreCountedButNotFollowed) {
  auto& c = VolumeWithFreeRuns('C', "NTFS", 2000, kCluster, {{1000, 1000}});
  auto& d = VolumeWithFreeRuns('D', "NTFS", 2000, kCluster, {{1000, 1000}});
  c.AddFile("Users\\me\\a.bin", 4 * kCluster, {{100, 2}, {200, 2}});
  c.AddFile("Users\\me\\b.bin", 2 * kCluster, {{300, 2}});
  c.AddJunction("Users\\me\\Application Data", "Users");  // an ancestor: a loop
  c.AddJunction("Users\\Default User", "Users\\me");       // the same files again
  c.AddMountPoint("Mnt", d);
  d.AddFile("other.bin", 4 * kCluster, {{100, 2}, {200, 2}});
  // The simulation resolves the loop as Windows does: a walk that followed it would
  // find the same file under ever longer names.
  ASSERT_TRUE(machine.OpenFileForQuery("C:\\Users\\me\\Application Data\\me\\a.bin") != platform::kInvalidHandle);
  std::vector<std::string> opened;
  c.OnOpenFile([&](const std::string& path) { opened.push_back(path); });
  Start();
  ASSERT_EQ(DLL_OptimizedDefragVolume("C"), 1);
  // Each file of C once per pass (analysis, relocation; the in-depth pass opens
  // candidates by the same names), never through a link.
  for (const std::string& path : opened) {
    EXPECT_TRUE(path == "C:\\Users\\me\\a.bin" || path == "C:\\Users\\me\\b.bin") << path;
  }
  // The mount point's volume is neither moved on nor painted into C's map.
  EXPECT_EQ(d.MoveCalls(), 0);
  EXPECT_EQ(d.RunsOf("other.bin"), (std::vector<platform::sim::ClusterRun>{{100, 2}, {200, 2}}));
  EXPECT_EQ(c.RunsOf("Users\\me\\a.bin")->size(), 1u);
  const std::string page = Page("analysisreport1.html");
  // Files: a.bin and b.bin; folders: Users, me, the two junctions and the mount point.
  EXPECT_NE(page.find("Scanned files :</div></TD> <TD class=foot align=left><div align=left> 2 </div>"),
            std::string::npos);
  EXPECT_NE(page.find("Scanned directories :</div></TD> <TD class=foot align=left><div align=left> 5 </div>"),
            std::string::npos);
}

}  // namespace
}  // namespace vexa
