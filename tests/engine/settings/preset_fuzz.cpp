// Fuzz target for the "preset.ini" reader and the rewrite that follows it.
//
// For any file content: the built-in folder names come first, every entry fits its
// 255-byte buffer, each text is exactly its section's entries each followed by ";", and
// the rewritten file reads back as the lists the rewrite built (where the file format
// can hold them: no "]" or CR in an entry, and no empty last type entry). A violation
// aborts. Built with -fsanitize=fuzzer under clang; otherwise main() below replays the
// files named on its command line and then a fixed number of generated inputs, so the
// same checks run with every test run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "settings/preset_file.h"

namespace {

using vexa::ExclusionLists;
using vexa::ExclusionTexts;
using vexa::FileEntryKind;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "preset invariant broken: %s\n", what);
    std::abort();
  }
}

bool EntryFits(std::string_view entry) {
  return entry.size() <= vexa::kMaxExclusionEntry && entry.find('\0') == std::string_view::npos &&
         entry.find('\n') == std::string_view::npos;
}

void CheckLists(const ExclusionLists& lists, const ExclusionTexts* texts) {
  Check(lists.folders.size() >= vexa::kBuiltInExcludedFolders.size(), "built-in names present");
  std::string folder, file, type;
  for (std::size_t i = 0; i < lists.folders.size(); ++i) {
    if (i < vexa::kBuiltInExcludedFolders.size()) {
      Check(lists.folders[i] == vexa::kBuiltInExcludedFolders[i], "built-in names first, in order");
    } else {
      Check(EntryFits(lists.folders[i]), "folder entry fits its buffer");
      folder += lists.folders[i] + ";";
    }
  }
  for (const auto& entry : lists.files) {
    Check(EntryFits(entry.name), "file entry fits its buffer");
    (entry.kind == FileEntryKind::kName ? file : type) += entry.name + ";";
  }
  if (texts != nullptr) {
    Check(texts->folder == folder && texts->file == file && texts->type == type, "texts mirror the lists");
  }
}

bool Representable(const ExclusionLists& lists) {
  auto plain = [](std::string_view e) { return e.find(']') == e.npos && e.find('\r') == e.npos; };
  for (std::size_t i = vexa::kBuiltInExcludedFolders.size(); i < lists.folders.size(); ++i) {
    if (!plain(lists.folders[i])) return false;
  }
  for (const auto& entry : lists.files) {
    if (!plain(entry.name)) return false;
  }
  for (auto it = lists.files.rbegin(); it != lists.files.rend(); ++it) {
    if (it->kind == FileEntryKind::kType) return !it->name.empty();
  }
  return true;
}

void RunOne(std::string_view content) {
  ExclusionLists loaded = ExclusionLists::WithBuiltIns();
  const ExclusionTexts texts = vexa::ParsePreset(content, loaded);
  CheckLists(loaded, &texts);

  ExclusionLists rewritten = ExclusionLists::WithBuiltIns();
  const std::string bytes = vexa::FormatPreset(texts, rewritten);
  CheckLists(rewritten, nullptr);
  Check(bytes.find(' ') == std::string::npos, "no blank is written");
  std::string lastLine = "[type]";
  for (auto it = rewritten.files.rbegin(); it != rewritten.files.rend(); ++it) {
    if (it->kind == FileEntryKind::kType) {
      lastLine = "\r\n" + it->name;
      break;
    }
  }
  Check(bytes.ends_with(lastLine), "the file ends with its last type line, no line end after it");

  if (Representable(rewritten)) {
    ExclusionLists reread = ExclusionLists::WithBuiltIns();
    vexa::ParsePreset(bytes, reread);
    Check(reread.folders == rewritten.folders && reread.files == rewritten.files, "rewritten file reads back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RunOne(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

#ifndef VEXA_LIBFUZZER
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    RunOne(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  // Inputs assembled from the pieces the reader reacts to, with a fixed seed.
  const std::string_view pieces[] = {"[folder]", "[file]", "[type]", "[Folder]", "]", "[", "\r\n", "\n", "\r",
                                     ";", " ", "Temp", "exe", ".", std::string_view("\0", 1), "\t"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20000; ++round) {
    std::string content;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      if (random() % 50 == 0) {
        content.append(250 + random() % 20, 'x');
      } else {
        content += pieces[random() % std::size(pieces)];
      }
    }
    RunOne(content);
  }
  std::puts("preset fuzz replay: all invariants held");
  return 0;
}
#endif
