// The registry in force and the recording fake.
#include "platform/registry.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<Registry*> gRegistry{nullptr};

}  // namespace

Registry& CurrentRegistry() {
  Registry* replaced = gRegistry.load(std::memory_order_acquire);
  return replaced != nullptr ? *replaced : SystemRegistry();
}

void SetRegistry(Registry* registry) { gRegistry.store(registry, std::memory_order_release); }

std::string FakeRegistry::KeyName(RegistryRoot root, const std::string& path) {
  return (root == RegistryRoot::kLocalMachine ? "HKLM\\" : "HKCU\\") + path;
}

bool FakeRegistry::CreateKey(RegistryRoot root, const std::string& path) {
  calls.push_back("create " + KeyName(root, path));
  if (failCreateKey) return false;
  keys[KeyName(root, path)];
  return true;
}

bool FakeRegistry::SetString(RegistryRoot root, const std::string& path, const std::string& name,
                             const std::string& data) {
  calls.push_back("set " + KeyName(root, path) + " " + name + "=" + data);
  if (failSet || failCreateKey) return false;
  keys[KeyName(root, path)][name] = Value{false, data, 0};
  return true;
}

bool FakeRegistry::SetNumber(RegistryRoot root, const std::string& path, const std::string& name,
                             std::uint32_t data) {
  calls.push_back("number " + KeyName(root, path) + " " + name + "=" + std::to_string(data));
  if (failSet || failCreateKey) return false;
  keys[KeyName(root, path)][name] = Value{true, {}, data};
  return true;
}

bool FakeRegistry::DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) {
  calls.push_back("delete " + KeyName(root, path) + " " + name);
  if (failDelete) return false;
  if (auto key = keys.find(KeyName(root, path)); key != keys.end()) key->second.erase(name);
  return true;
}

std::optional<std::string> FakeRegistry::GetString(RegistryRoot root, const std::string& path,
                                                   const std::string& name) {
  const auto key = keys.find(KeyName(root, path));
  if (key == keys.end()) return std::nullopt;
  const auto value = key->second.find(name);
  if (value == key->second.end() || value->second.isNumber) return std::nullopt;
  return value->second.text;
}

std::optional<std::uint32_t> FakeRegistry::GetNumber(RegistryRoot root, const std::string& path,
                                                     const std::string& name) {
  const auto key = keys.find(KeyName(root, path));
  if (key == keys.end()) return std::nullopt;
  const auto value = key->second.find(name);
  if (value == key->second.end() || !value->second.isNumber) return std::nullopt;
  return value->second.number;
}

}  // namespace platform
