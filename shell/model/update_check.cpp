// The update check's decisions (see update_check.h).
#include "model/update_check.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

namespace shell {
namespace {

using platform::RegistryRoot;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The number a version part starts with; parts without leading digits count as 0. Very
// long runs of digits saturate rather than wrap.
std::uint64_t PartNumber(std::string_view part) {
  std::uint64_t value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') break;
    value = value > (UINT64_MAX - 9) / 10 ? UINT64_MAX : value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

std::vector<std::uint64_t> VersionParts(std::string_view text) {
  std::vector<std::uint64_t> parts;
  while (true) {
    const auto dot = text.find('.');
    parts.push_back(PartNumber(Trim(text.substr(0, dot))));
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts;
}

}  // namespace

bool ReadCheckUpdateSwitch(platform::Registry& registry) {
  if (!registry.CreateKey(RegistryRoot::kCurrentUser, kProgramKey)) return false;
  const auto value = registry.GetString(RegistryRoot::kCurrentUser, kProgramKey, "CheckUpdate");
  if (!value || value->empty()) {
    // The switch stays off when it cannot be written; nothing else depends on it.
    (void)registry.SetString(RegistryRoot::kCurrentUser, kProgramKey, "CheckUpdate", "0");
  }
  return registry.GetString(RegistryRoot::kCurrentUser, kProgramKey, "CheckUpdate").value_or("") == "1";
}

std::string ConfiguredHost(platform::Registry& registry, const char* overrideValue, const std::string& buildDefault) {
  const auto value = registry.GetString(RegistryRoot::kLocalMachine, kProgramKey, overrideValue);
  if (value && !Trim(*value).empty()) return std::string(Trim(*value));
  return buildDefault;
}

std::string HttpAddress(const std::string& host, const char* path) { return "http://" + host + path; }

std::string HttpsAddress(const std::string& host, const char* path) { return "https://" + host + path; }

std::vector<std::string> UpdateAddresses(const std::string& host, const char* path, UpdateTransport transport) {
  std::vector<std::string> addresses;
  if (transport.https) addresses.push_back(HttpsAddress(host, path));
  if (!transport.https || transport.httpFallback) addresses.push_back(HttpAddress(host, path));
  return addresses;
}

bool IsNewerVersion(const std::string& downloaded, const std::string& installed) {
  if (Trim(downloaded).empty()) return false;
  std::vector<std::uint64_t> a = VersionParts(downloaded), b = VersionParts(installed);
  const std::size_t parts = std::max(a.size(), b.size());
  a.resize(parts, 0);
  b.resize(parts, 0);
  return a > b;  // lexicographic: the first part that differs decides
}

std::string IniValue(const std::string& text, const std::string& section, const std::string& key) {
  std::string_view rest(text);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  bool inSection = false;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    std::string_view line = Trim(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      inSection = close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(Trim(line.substr(0, equals)), key)) return std::string(Trim(line.substr(equals + 1)));
  }
  return {};
}

UpdateOutcome RunUpdateCheck(platform::Registry& registry, const std::string& updateHost,
                             const std::string& programFolder, const UpdateCheckSeams& seams,
                             UpdateTransport transport) {
  const std::string iniPath = programFolder + "Update.ini";
  bool downloaded = false;
  for (const std::string& address : UpdateAddresses(updateHost, kUpdatePath, transport)) {
    if ((downloaded = seams.download(address, iniPath))) break;
  }
  if (!downloaded) return UpdateOutcome::kNoUpdate;
  const std::string offered = IniValue(seams.readFile(iniPath), "Version", "Ver");
  const std::string installed =
      registry.GetString(platform::RegistryRoot::kLocalMachine, kProgramKey, "Version").value_or("");
  if (!IsNewerVersion(offered, installed)) return UpdateOutcome::kNoUpdate;
  if (!seams.askToUpdate()) return UpdateOutcome::kDeclined;
  if (seams.startProgram(programFolder + "Update.exe")) return UpdateOutcome::kUpdaterStarted;
  seams.reportUpdaterMissing();
  return UpdateOutcome::kUpdaterMissing;
}

}  // namespace shell
