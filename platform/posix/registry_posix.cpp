// The registry off Windows: a text file of values, so settings written through the
// registry seam persist per user. One line per value: root, key path, value name, kind
// ("s" text, "n" number) and data, separated by tabs; a tab, line break or backslash
// inside a field is written as \t, \n or \\. The file is rewritten whole on every change
// (through a temporary file renamed over it).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/registry.h"

namespace platform {
namespace {

struct Line {
  std::string root, path, name, kind, data;
};

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

const char* RootName(RegistryRoot root) { return root == RegistryRoot::kLocalMachine ? "HKLM" : "HKCU"; }

class FileRegistry : public Registry {
 public:
  bool CreateKey(RegistryRoot, const std::string&) override {
    std::lock_guard lock(mutex_);
    return !Folder().empty();
  }
  bool SetString(RegistryRoot root, const std::string& path, const std::string& name,
                 const std::string& data) override {
    return Put(root, path, name, "s", data);
  }
  bool SetNumber(RegistryRoot root, const std::string& path, const std::string& name, std::uint32_t data) override {
    return Put(root, path, name, "n", std::to_string(data));
  }
  bool DeleteValue(RegistryRoot root, const std::string& path, const std::string& name) override {
    std::lock_guard lock(mutex_);
    std::vector<Line> lines;
    if (!Load(lines)) return false;
    std::vector<Line> kept;
    for (Line& line : lines) {
      if (!(line.root == RootName(root) && line.path == path && line.name == name)) kept.push_back(std::move(line));
    }
    return kept.size() == lines.size() || Store(kept);
  }
  std::optional<std::string> GetString(RegistryRoot root, const std::string& path, const std::string& name) override {
    if (auto line = Get(root, path, name); line && line->kind == "s") return line->data;
    return std::nullopt;
  }
  std::optional<std::uint32_t> GetNumber(RegistryRoot root, const std::string& path,
                                         const std::string& name) override {
    if (auto line = Get(root, path, name); line && line->kind == "n") {
      return static_cast<std::uint32_t>(std::strtoul(line->data.c_str(), nullptr, 10));
    }
    return std::nullopt;
  }

 private:
  // $XDG_CONFIG_HOME/tolvane-disk-defrag/ (default ~/.config/...), made when missing;
  // empty when there is no such folder and it cannot be made.
  static std::string Folder() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
      base = config;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
      base = std::string(home) + "/.config";
    } else {
      return {};
    }
    mkdir(base.c_str(), 0700);
    const std::string folder = base + "/tolvane-disk-defrag";
    mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    return folder + "/";
  }

  static bool Load(std::vector<Line>& lines) {
    const std::string folder = Folder();
    if (folder.empty()) return false;
    std::FILE* file = std::fopen((folder + "registry").c_str(), "r");
    if (file == nullptr) return true;  // no values yet
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::vector<std::string> fields;
      std::size_t at = start;
      while (fields.size() < 4) {
        const std::size_t tab = text.find('\t', at);
        if (tab == std::string::npos || tab > end) break;
        fields.push_back(text.substr(at, tab - at));
        at = tab + 1;
      }
      if (fields.size() == 4) {
        lines.push_back({fields[0], Unescape(fields[1]), Unescape(fields[2]), fields[3], Unescape(text.substr(at, end - at))});
      }
      start = end + 1;
    }
    return true;
  }

  static bool Store(const std::vector<Line>& lines) {
    const std::string folder = Folder();
    if (folder.empty()) return false;
    const std::string path = folder + "registry";
    const std::string temporary = path + ".new";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) return false;
    bool ok = true;
    for (const Line& line : lines) {
      const std::string text = line.root + "\t" + Escape(line.path) + "\t" + Escape(line.name) + "\t" + line.kind +
                               "\t" + Escape(line.data) + "\n";
      ok = ok && std::fputs(text.c_str(), file) >= 0;
    }
    ok = std::fclose(file) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temporary.c_str());
    return ok;
  }

  bool Put(RegistryRoot root, const std::string& path, const std::string& name, const char* kind,
           const std::string& data) {
    std::lock_guard lock(mutex_);
    std::vector<Line> lines;
    if (!Load(lines)) return false;
    bool replaced = false;
    for (Line& line : lines) {
      if (line.root == RootName(root) && line.path == path && line.name == name) {
        line.kind = kind;
        line.data = data;
        replaced = true;
      }
    }
    if (!replaced) lines.push_back({RootName(root), path, name, kind, data});
    return Store(lines);
  }

  std::optional<Line> Get(RegistryRoot root, const std::string& path, const std::string& name) {
    std::lock_guard lock(mutex_);
    std::vector<Line> lines;
    if (!Load(lines)) return std::nullopt;
    for (Line& line : lines) {
      if (line.root == RootName(root) && line.path == path && line.name == name) return line;
    }
    return std::nullopt;
  }

  std::mutex mutex_;
};

}  // namespace

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace platform
