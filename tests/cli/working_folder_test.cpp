// The engine's working folder in a build tree and in an installed layout.
#include "working_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/library.h"
#include "support/temp_dir.h"

namespace cli {
namespace {

using vexa::test::FileExists;
using vexa::test::ReadFile;
using vexa::test::TempDir;
using vexa::test::WriteFile;

// An installed tree: prefix/bin/, prefix/lib/tolvane-disk-defrag/, prefix/share/...
struct InstalledTree {
  TempDir root;
  std::string bin = root.Path() + "usr/bin/";
  std::string lib = root.Path() + "usr/" + kInstalledEngineFolder;
  std::string share = root.Path() + "usr/share/tolvane-disk-defrag/";
  std::string home = root.Path() + "home/ann";

  InstalledTree() {
    for (const std::string& folder : {bin, lib, share, home}) std::filesystem::create_directories(folder);
    WriteFile(lib + platform::kEngineLibraryName, "engine v1");
    WriteFile(share + "report.css", "css v1");
    WriteFile(share + "preset.ini", "[Folder]\n");
    WriteFile(share + "Setting", std::string(16, '\0'));
  }
};

TEST(EngineLayoutTest, ChoosesTheFolderByWhereTheLibraryIs) {
  InstalledTree tree;
  // Installed: the user's data folder, from $XDG_DATA_HOME when it is absolute, else ~.
  EngineLayout layout = FindEngineLayout(tree.bin, "/x/data", tree.home);
  EXPECT_EQ(layout.engineFolder, "/x/data/tolvane-disk-defrag/");
  EXPECT_EQ(layout.installedLibrary, tree.bin + "../" + kInstalledEngineFolder);
  EXPECT_EQ(layout.installedData, tree.bin + "../share/tolvane-disk-defrag/");
  EXPECT_EQ(FindEngineLayout(tree.bin, "relative/data", tree.home).engineFolder,
            tree.home + "/.local/share/tolvane-disk-defrag/");
  EXPECT_EQ(FindEngineLayout(tree.bin, "", tree.home).engineFolder, tree.home + "/.local/share/tolvane-disk-defrag/");
  // No home at all: the program's folder, as before.
  EXPECT_EQ(FindEngineLayout(tree.bin, "", "").engineFolder, tree.bin);

  // A build tree: the library beside the program wins, whatever the environment says.
  WriteFile(tree.bin + platform::kEngineLibraryName, "build");
  layout = FindEngineLayout(tree.bin, "/x/data", tree.home);
  EXPECT_EQ(layout.engineFolder, tree.bin);
  EXPECT_TRUE(layout.installedLibrary.empty());
  std::string error;
  EXPECT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kReady);
  EXPECT_FALSE(FileExists(tree.home + "/.local/share/tolvane-disk-defrag/report.css"));

  // Neither: nothing is guessed (loading reports the missing library).
  TempDir empty;
  EXPECT_EQ(FindEngineLayout(empty.Path(), "", tree.home).engineFolder, empty.Path());
}

TEST(EngineLayoutTest, PreparesTheUserFolderAndKeepsTheUsersSettings) {
  InstalledTree tree;
  const EngineLayout layout = FindEngineLayout(tree.bin, "", tree.home);
  const std::string& folder = layout.engineFolder;
  std::string error;
  ASSERT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kReady) << error;
  EXPECT_EQ(ReadFile(folder + platform::kEngineLibraryName), "engine v1");
  EXPECT_EQ(ReadFile(folder + "report.css"), "css v1");
  EXPECT_EQ(ReadFile(folder + "preset.ini"), "[Folder]\n");
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // The user changes a setting; the package is upgraded.
  WriteFile(folder + "preset.ini", "[Folder]\nGames;\n");
  WriteFile(tree.lib + platform::kEngineLibraryName, "engine v2");
  WriteFile(tree.share + "report.css", "css v2");
  WriteFile(tree.share + "defragreport.html", "new page");
  ASSERT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kReady) << error;
  EXPECT_EQ(ReadFile(folder + platform::kEngineLibraryName), "engine v2");
  EXPECT_EQ(ReadFile(folder + "report.css"), "css v2");
  EXPECT_EQ(ReadFile(folder + "defragreport.html"), "new page");
  EXPECT_EQ(ReadFile(folder + "preset.ini"), "[Folder]\nGames;\n");
  EXPECT_FALSE(FileExists(folder + "report.css.new"));
}

TEST(EngineLayoutTest, SaysWhetherTheFolderOrTheInstallationFailed) {
  const std::string notWritable = " is not writable: reports and state cannot be saved (";
  {
    // A file where the data folder should be.
    InstalledTree tree;
    WriteFile(tree.root.Path() + "blocked", "x");
    const EngineLayout layout = FindEngineLayout(tree.bin, tree.root.Path() + "blocked", tree.home);
    std::string error;
    EXPECT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kNotWritable);
    EXPECT_EQ(error.find("the engine's folder " + layout.engineFolder + notWritable), 0u) << error;
  }
  {
    // The folder is there, but a delivered file cannot be put in it (a folder holds its name).
    InstalledTree tree;
    const EngineLayout layout = FindEngineLayout(tree.bin, "", tree.home);
    std::filesystem::create_directories(layout.engineFolder + "report.css/inside");
    std::string error;
    EXPECT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kNotWritable);
    EXPECT_EQ(error.find("the engine's folder " + layout.engineFolder + notWritable + "cannot write report.css: "),
              0u)
        << error;
  }
  {
    // The installed data folder is not a folder: the installation is broken, not the user's folder.
    InstalledTree tree;
    std::filesystem::remove_all(tree.share);
    WriteFile(tree.share.substr(0, tree.share.size() - 1), "x");
    const EngineLayout layout = FindEngineLayout(tree.bin, "", tree.home);
    std::string error;
    EXPECT_EQ(PrepareEngineFolder(layout, &error), PreparedFolder::kBrokenInstallation);
    EXPECT_EQ(error.find("cannot read the installed data folder "), 0u) << error;
  }
}

}  // namespace
}  // namespace cli
