// The registry seam: the few registry operations the engine and DefragShell make, with
// the Windows registry behind them on Windows, a small text store elsewhere, and a
// recording fake for tests.
//
// Keys are named by a root and a path below it (kRunKeyPath, for example); values are
// single-byte strings (REG_SZ) or 32-bit numbers (REG_DWORD). Every operation opens the key, acts
// and closes it again, so no handle outlives a call.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class RegistryRoot { kLocalMachine, kCurrentUser };

// The machine's Run key, whose string values Windows starts at every log-on.
inline constexpr char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens the key, creating it when missing (RegCreateKeyA). False when it can be
  // neither opened nor created.
  [[nodiscard]] virtual bool CreateKey(RegistryRoot root, const std::string& path) = 0;
  // Sets the REG_SZ value `name` to `data`, the terminating zero counted in the data
  // length; the key is created when missing. False on failure.
  [[nodiscard]] virtual bool SetString(RegistryRoot root, const std::string& path, const std::string& name,
                                       const std::string& data) = 0;
  // Sets the REG_DWORD value `name`; the key is created when missing.
  [[nodiscard]] virtual bool SetNumber(RegistryRoot root, const std::string& path, const std::string& name,
                                       std::uint32_t data) = 0;
  // Deletes the value `name`. A value that does not exist counts as deleted (the state
  // asked for holds); false when the key cannot be opened for writing or the delete is
  // refused.
  [[nodiscard]] virtual bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) = 0;
  // The REG_SZ value `name`, or nothing when the key or value is missing or of another
  // type.
  virtual std::optional<std::string> GetString(RegistryRoot root, const std::string& path,
                                               const std::string& name) = 0;
  // The REG_DWORD value `name`, or nothing.
  virtual std::optional<std::uint32_t> GetNumber(RegistryRoot root, const std::string& path,
                                                 const std::string& name) = 0;
};

// The registry in force: the system's, or the one a test put in place. Any thread.
Registry& CurrentRegistry();
// Puts `registry` (not owned; null restores the system's) in place of the system's.
// Meant for tests that set it before and clear it after the code under test.
void SetRegistry(Registry* registry);
// The system's registry: the Windows registry, or off Windows a text file
// ("registry" in $XDG_CONFIG_HOME/tolvane-disk-defrag, default ~/.config).
Registry& SystemRegistry();

// A registry in memory that records every call, for tests. Failures are injected per
// operation; a failing operation changes nothing.
class FakeRegistry : public Registry {
 public:
  struct Value {
    bool isNumber = false;
    std::string text;
    std::uint32_t number = 0;
    bool operator==(const Value&) const = default;
  };
  using Key = std::map<std::string, Value>;  // value name -> value

  bool failCreateKey = false;
  bool failSet = false;
  bool failDelete = false;
  // One line per call: "create HKLM\path", "set HKLM\path name=data",
  // "number HKCU\path name=7", "delete HKLM\path name", "get ..." are not recorded.
  std::vector<std::string> calls;
  // Keys by "HKLM\path" or "HKCU\path".
  std::map<std::string, Key> keys;

  bool CreateKey(RegistryRoot root, const std::string& path) override;
  bool SetString(RegistryRoot root, const std::string& path, const std::string& name,
                 const std::string& data) override;
  bool SetNumber(RegistryRoot root, const std::string& path, const std::string& name, std::uint32_t data) override;
  bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) override;
  std::optional<std::string> GetString(RegistryRoot root, const std::string& path, const std::string& name) override;
  std::optional<std::uint32_t> GetNumber(RegistryRoot root, const std::string& path,
                                         const std::string& name) override;

  // "HKLM\path" or "HKCU\path".
  static std::string KeyName(RegistryRoot root, const std::string& path);
};

}  // namespace platform
