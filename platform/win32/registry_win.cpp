// The Windows registry behind the registry seam (the A functions, one key opened per call).
#include <windows.h>

#include "platform/registry.h"

namespace platform {
namespace {

HKEY RootKey(RegistryRoot root) { return root == RegistryRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// An open key, closed on every way out.
class KeyHolder {
 public:
  KeyHolder() = default;
  ~KeyHolder() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class WinRegistry : public Registry {
 public:
  bool CreateKey(RegistryRoot root, const std::string& path) override {
    KeyHolder key;
    return RegCreateKeyA(RootKey(root), path.c_str(), key.Out()) == ERROR_SUCCESS;
  }
  bool SetString(RegistryRoot root, const std::string& path, const std::string& name,
                 const std::string& data) override {
    KeyHolder key;
    if (RegCreateKeyA(RootKey(root), path.c_str(), key.Out()) != ERROR_SUCCESS) return false;
    return RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
  }
  bool SetNumber(RegistryRoot root, const std::string& path, const std::string& name, std::uint32_t data) override {
    KeyHolder key;
    if (RegCreateKeyA(RootKey(root), path.c_str(), key.Out()) != ERROR_SUCCESS) return false;
    const DWORD value = data;
    return RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
  }
  bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) override {
    KeyHolder key;
    const LONG opened = RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_SET_VALUE, key.Out());
    if (opened == ERROR_FILE_NOT_FOUND) return true;  // no key, so no value
    if (opened != ERROR_SUCCESS) return false;
    const LONG deleted = RegDeleteValueA(key.Get(), name.c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
  }
  std::optional<std::string> GetString(RegistryRoot root, const std::string& path, const std::string& name) override {
    KeyHolder key;
    if (RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
      return std::nullopt;
    }
    std::string data(size + 1, '\0');
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    data.resize(size);
    data = data.c_str();  // the stored zero, and anything a writer put after it
    return data;
  }
  std::optional<std::uint32_t> GetNumber(RegistryRoot root, const std::string& path,
                                         const std::string& name) override {
    KeyHolder key;
    if (RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
      return std::nullopt;
    }
    return value;
  }
};

}  // namespace

Registry& SystemRegistry() {
  static WinRegistry registry;
  return registry;
}

}  // namespace platform
