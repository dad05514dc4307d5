// The update check's decisions: the start-up switch, hosts, version comparison, INI
// reading and the flow from download to updater.
#include "model/update_check.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace shell {
namespace {

using platform::FakeRegistry;
using platform::RegistryRoot;

const std::string kKey = std::string("HKCU\\") + kProgramKey;
const std::string kMachineKey = std::string("HKLM\\") + kProgramKey;

TEST(UpdateCheckTest, TheSwitchIsWrittenWhenMissingAndOnOnlyForOne) {
  FakeRegistry registry;
  EXPECT_FALSE(ReadCheckUpdateSwitch(registry));
  ASSERT_EQ(registry.keys.count(kKey), 1u) << "the key is created";
  EXPECT_EQ(registry.keys[kKey]["CheckUpdate"].text, "0");

  struct Case {
    const char* stored;
    bool on;
    const char* after;
  };
  for (const Case& c : {Case{"1", true, "1"}, Case{"0", false, "0"}, Case{"", false, "0"}, Case{"1 ", false, "1 "},
                        Case{"yes", false, "yes"}, Case{"11", false, "11"}}) {
    FakeRegistry r;
    r.keys[kKey]["CheckUpdate"] = FakeRegistry::Value{false, c.stored, 0};
    EXPECT_EQ(ReadCheckUpdateSwitch(r), c.on) << '"' << c.stored << '"';
    EXPECT_EQ(r.keys[kKey]["CheckUpdate"].text, c.after) << '"' << c.stored << '"';
  }

  FakeRegistry broken;
  broken.failCreateKey = true;
  EXPECT_FALSE(ReadCheckUpdateSwitch(broken));
}

TEST(UpdateCheckTest, HostsComeFromTheBuildUnlessTheMachinesKeyNamesOne) {
  FakeRegistry registry;
  EXPECT_EQ(ConfiguredHost(registry, "UpdateHost", "update.example"), "update.example");
  // The user's key is anyone's to write: an override there is never followed.
  registry.keys[kKey]["UpdateHost"] = FakeRegistry::Value{false, "evil.example", 0};
  registry.keys[kKey]["HelpHost"] = FakeRegistry::Value{false, "evil.example", 0};
  EXPECT_EQ(ConfiguredHost(registry, "UpdateHost", "update.example"), "update.example");
  EXPECT_EQ(ConfiguredHost(registry, "HelpHost", "help.example"), "help.example");
  registry.keys[kMachineKey]["UpdateHost"] = FakeRegistry::Value{false, "  ", 0};
  EXPECT_EQ(ConfiguredHost(registry, "UpdateHost", "update.example"), "update.example");
  registry.keys[kMachineKey]["UpdateHost"] = FakeRegistry::Value{false, "127.0.0.1:8123", 0};
  registry.keys[kMachineKey]["HelpHost"] = FakeRegistry::Value{false, "help.local", 0};
  EXPECT_EQ(ConfiguredHost(registry, "UpdateHost", "update.example"), "127.0.0.1:8123");
  EXPECT_EQ(ConfiguredHost(registry, "HelpHost", "help.example"), "help.local");
  EXPECT_EQ(HttpAddress("127.0.0.1:8123", kUpdatePath),
            "http://127.0.0.1:8123/products/system-utility/tolvane-disk-defrag/update/Update.ini");
}

TEST(UpdateCheckTest, PlainHttpIsTriedOnlyWhenTheBuildAllowsIt) {
  using Addresses = std::vector<std::string>;
  EXPECT_EQ(UpdateAddresses("h", "/u", UpdateTransport{true, false}), (Addresses{"https://h/u"}));
  EXPECT_EQ(UpdateAddresses("h", "/u", UpdateTransport{true, true}), (Addresses{"https://h/u", "http://h/u"}));
  EXPECT_EQ(UpdateAddresses("h", "/u", UpdateTransport{false, false}), (Addresses{"http://h/u"}));
}

TEST(UpdateCheckTest, VersionsCompareNumericallyPartByPart) {
  struct Case {
    const char* downloaded;
    const char* installed;
    bool newer;
  };
  const Case cases[] = {
      {"10.0", "9.0", true},    {"9.0", "10.0", false},   {"2.1", "2.0", true},     {"2.0", "2", false},
      {"2", "2.0", false},      {"2.0.1", "2", true},     {"1.0.10", "1.0.9", true}, {"1.0.9", "1.0.10", false},
      {"1", "", true},          {"", "", false},          {"", "1.0", false},        {"  ", "", false},
      {"1.0", "1.0", false},    {"junk", "1.0", false},   {"junk", "", false},       {"3beta", "2.9", true},
      {"1.2.3.4", "1.2.3", true}, {"01.0", "1.0", false}, {"99999999999999999999999", "1", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNewerVersion(c.downloaded, c.installed), c.newer)
        << '"' << c.downloaded << "\" against \"" << c.installed << '"';
  }
}

TEST(UpdateCheckTest, IniValuesAreFoundBySectionAndKey) {
  EXPECT_EQ(IniValue("[Version]\nVer=2.1\n", "Version", "Ver"), "2.1");
  EXPECT_EQ(IniValue("\xEF\xBB\xBF[version]\r\nver = 2.1 \r\n", "Version", "Ver"), "2.1");
  EXPECT_EQ(IniValue("[Other]\nVer=9\n[Version]\n; note\nName=x\nVer=3\n", "Version", "Ver"), "3");
  EXPECT_EQ(IniValue("[Other]\nVer=9\n", "Version", "Ver"), "") << "section missing";
  EXPECT_EQ(IniValue("[Version]\nName=9\n", "Version", "Ver"), "") << "key missing";
  EXPECT_EQ(IniValue("Ver=9\n[Version]\n", "Version", "Ver"), "") << "a key before any section";
  EXPECT_EQ(IniValue("", "Version", "Ver"), "");
  EXPECT_EQ(IniValue("<html>404 Not Found</html>", "Version", "Ver"), "");
}

// The outside world of one check, recorded.
struct World {
  bool downloads = true;
  std::string body = "[Version]\nVer=2.1\n";
  bool yes = true;
  bool updaterStarts = true;
  std::map<std::string, std::string> files;
  std::vector<std::string> log;

  bool httpsFails = false;  // the HTTPS download fails, a plain one would work

  UpdateCheckSeams Seams() {
    UpdateCheckSeams seams;
    seams.download = [this](const std::string& address, const std::string& path) {
      log.push_back("get " + address + " -> " + path);
      const bool ok = downloads && !(httpsFails && address.rfind("https:", 0) == 0);
      if (ok) files[path] = body;
      return ok;
    };
    seams.readFile = [this](const std::string& path) { return files.count(path) ? files[path] : std::string(); };
    seams.askToUpdate = [this] {
      log.push_back("ask");
      return yes;
    };
    seams.startProgram = [this](const std::string& path) {
      log.push_back("start " + path);
      return updaterStarts;
    };
    seams.reportUpdaterMissing = [this] { log.push_back("missing"); };
    return seams;
  }
};

TEST(UpdateCheckTest, TheCheckAsksOnlyForANewerVersionAndStartsTheUpdater) {
  FakeRegistry registry;
  registry.keys[kMachineKey]["Version"] = FakeRegistry::Value{false, "2.0", 0};

  World newer;
  EXPECT_EQ(RunUpdateCheck(registry, "h:1", "C:\\P\\", newer.Seams()), UpdateOutcome::kUpdaterStarted);
  EXPECT_EQ(newer.log, (std::vector<std::string>{
                           "get https://h:1/products/system-utility/tolvane-disk-defrag/update/Update.ini -> "
                           "C:\\P\\Update.ini",
                           "ask", "start C:\\P\\Update.exe"}));

  // A failed HTTPS download falls back to plain HTTP only when the build allows it.
  World secureOnly;
  secureOnly.httpsFails = true;
  EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", secureOnly.Seams(), UpdateTransport{true, false}),
            UpdateOutcome::kNoUpdate);
  EXPECT_EQ(secureOnly.log.size(), 1u);
  World fallback;
  fallback.httpsFails = true;
  fallback.yes = false;
  EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", fallback.Seams(), UpdateTransport{true, true}),
            UpdateOutcome::kDeclined);
  ASSERT_EQ(fallback.log.size(), 3u);
  EXPECT_EQ(fallback.log[1].rfind("get http://h/", 0), 0u) << fallback.log[1];

  // The version in the user's key is not the installed one: only the machine's counts.
  FakeRegistry userOnly;
  userOnly.keys[kKey]["Version"] = FakeRegistry::Value{false, "99.0", 0};
  World stale;
  stale.yes = false;
  EXPECT_EQ(RunUpdateCheck(userOnly, "h", "P/", stale.Seams()), UpdateOutcome::kDeclined);

  World declined;
  declined.yes = false;
  EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", declined.Seams()), UpdateOutcome::kDeclined);
  EXPECT_EQ(declined.log.back(), "ask");

  World missing;
  missing.updaterStarts = false;
  EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", missing.Seams()), UpdateOutcome::kUpdaterMissing);
  EXPECT_EQ(missing.log.back(), "missing");

  for (const char* body : {"[Version]\nVer=2.0\n", "[Version]\nVer=1.9\n", "[Version]\n", "", "[Other]\nVer=9\n"}) {
    World notNewer;
    notNewer.body = body;
    EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", notNewer.Seams()), UpdateOutcome::kNoUpdate) << body;
    EXPECT_EQ(notNewer.log.size(), 1u) << "no question for " << body;
  }

  World failed;
  failed.downloads = false;
  EXPECT_EQ(RunUpdateCheck(registry, "h", "P/", failed.Seams()), UpdateOutcome::kNoUpdate);
  EXPECT_EQ(failed.log.size(), 1u);

  // No installed version: any real version is newer.
  FakeRegistry fresh;
  World any;
  any.yes = false;
  EXPECT_EQ(RunUpdateCheck(fresh, "h", "P/", any.Seams()), UpdateOutcome::kDeclined);
}

}  // namespace
}  // namespace shell
