// The registry off Windows: values kept in a text file under $XDG_CONFIG_HOME, read back
// by every later call (and so by every later process).
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace platform {
namespace {

#ifndef _WIN32
class FileRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  vexa::test::TempDir dir;
  std::optional<std::string> saved_;
};

TEST_F(FileRegistryTest, ValuesPersistPerRootKeyAndNameAndDeletingAMissingOneSucceeds) {
  Registry& registry = SystemRegistry();
  const RegistryRoot hklm = RegistryRoot::kLocalMachine;
  const RegistryRoot hkcu = RegistryRoot::kCurrentUser;
  EXPECT_TRUE(registry.CreateKey(hklm, kRunKeyPath));
  EXPECT_FALSE(registry.GetString(hklm, kRunKeyPath, "Vexarun"));
  EXPECT_TRUE(registry.DeleteValue(hklm, kRunKeyPath, "Vexarun")) << "nothing to delete is no failure";

  const std::string awkward = "\"C:\\Program Files\\a\tb\nc\\\\\"";
  ASSERT_TRUE(registry.SetString(hklm, kRunKeyPath, "Vexarun", awkward));
  ASSERT_TRUE(registry.SetString(hkcu, kRunKeyPath, "Vexarun", "user"));
  ASSERT_TRUE(registry.SetNumber(hkcu, "Software\\Tolvane Disk Defrag", "CheckUpdate", 7));
  EXPECT_EQ(registry.GetString(hklm, kRunKeyPath, "Vexarun"), awkward);
  EXPECT_EQ(registry.GetString(hkcu, kRunKeyPath, "Vexarun"), "user");
  EXPECT_EQ(registry.GetNumber(hkcu, "Software\\Tolvane Disk Defrag", "CheckUpdate"), 7u);
  EXPECT_FALSE(registry.GetString(hkcu, "Software\\Tolvane Disk Defrag", "CheckUpdate")) << "a number is no text";
  ASSERT_TRUE(registry.SetString(hklm, kRunKeyPath, "Vexarun", "replaced"));
  EXPECT_EQ(registry.GetString(hklm, kRunKeyPath, "Vexarun"), "replaced");

  EXPECT_TRUE(registry.DeleteValue(hklm, kRunKeyPath, "Vexarun"));
  EXPECT_FALSE(registry.GetString(hklm, kRunKeyPath, "Vexarun"));
  EXPECT_EQ(registry.GetString(hkcu, kRunKeyPath, "Vexarun"), "user") << "the other root keeps its value";
  EXPECT_EQ(vexa::test::ReadFile(dir.File("tolvane-disk-defrag/registry")),
            "HKCU\tSoftware\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run\tVexarun\ts\tuser\n"
            "HKCU\tSoftware\\\\Tolvane Disk Defrag\tCheckUpdate\tn\t7\n");
}
#endif

}  // namespace
}  // namespace platform
