// check, contig and put: one volume, file by file.
#include "per_file_command.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine_session.h"
#include "exit_codes.h"
#include "job_runner.h"
#include "json_text.h"
#include "left_fragmented.h"
#include "platform/console.h"
#include "platform/utf.h"
#include "platform/win_types.h"
#include "stop_request.h"

namespace cli {

// Names on the volume reach us as the terminal shows them: UTF-8 on Linux (the
// providers convert to and from the UTF-16 on disk), the code page on Windows.
std::string FromVolumeText(const std::string& text) { return text; }

namespace {

const char* PieceWord(std::uint64_t n) { return n == 1 ? "piece" : "pieces"; }

const char* OutcomeName(std::int32_t outcome) {
  switch (outcome) {
    case VEXA_FILE_DONE: return "done";
    case VEXA_FILE_ALREADY_CONTIGUOUS: return "already contiguous";
    case VEXA_FILE_NO_RUN: return "no free run";
    case VEXA_FILE_NOT_FOUND: return "not found";
    case VEXA_FILE_IS_FOLDER: return "folder";
    case VEXA_FILE_EXISTS: return "exists";
    case VEXA_FILE_NO_VOLUME: return "no volume";
    case VEXA_FILE_BUSY: return "busy";
    case VEXA_FILE_STOPPED: return "stopped";
    case VEXA_FILE_NOT_SUPPORTED: return "not supported";
    case VEXA_FILE_BAD_NAME: return "bad name";
    case VEXA_FILE_SOURCE_FAILED: return "source unreadable";
    case VEXA_FILE_TOO_LARGE: return "too large";
    case VEXA_FILE_FOLDER_FULL: return "folder full";
    case VEXA_FILE_SPLIT_ENTRY: return "split entry";
    default: return "failed";
  }
}

// The exit code of a run: the gravest outcome seen.
class ExitCode {
 public:
  void Add(int code) {
    auto rank = [](int c) {
      return c == kExitStopped ? 6 : c == kExitBusy ? 5 : c == kExitVolume ? 4
             : c == kExitNoRun || c == kExitOverLimit ? 3 : c == kExitUsage ? 2 : 0;
    };
    if (rank(code) > rank(code_)) code_ = code;
  }
  int Get() const { return code_; }

 private:
  int code_ = kExitDone;
};

void Error(const std::string& text) { std::fprintf(stderr, "vexa: %s\n", FromVolumeText(text).c_str()); }

// True when `text` can name something on a volume; otherwise says why. Off Windows
// names are UTF-8, and bytes that are not cannot be stored or matched as typed.
bool NameTextOk(const std::string& text) {
#ifdef _WIN32
  (void)text;
  return true;
#else
  if (platform::IsValidUtf8(text)) return true;
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t from = at;
    char32_t c;
    if (platform::NextCodePoint(text, &at, &c)) {
      shown.append(text, from, at - from);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[at++]));
      shown += hex;
    }
  }
  Error(shown + ": not valid UTF-8; names on the volume are written in UTF-8");
  return false;
#endif
}

// The exit code and message of an outcome every command shares; kExitDone when the
// outcome is the command's own to explain.
int CommonOutcome(std::int32_t outcome, const std::string& path, const VexaFileResult* result) {
  switch (outcome) {
    case VEXA_FILE_NOT_FOUND:
      Error(path + ": no such file or folder");
      return kExitUsage;
    case VEXA_FILE_NO_VOLUME:
      Error(path + ": the volume is not open");
      return kExitVolume;
    case VEXA_FILE_BUSY:
      Error(kBusyMessage);
      return kExitBusy;
    case VEXA_FILE_STOPPED:
      return kExitStopped;
    case VEXA_FILE_FAILED:
      Error(path + ": the volume refused a write (Windows error " + std::to_string(result ? result->error : 0) +
            "); it is left read-only for this run");
      return kExitVolume;
    default:
      return kExitDone;
  }
}

// --- check ---

struct CheckRun {
  const Options* options;
  int files = 0;
  int over = 0;
};

void CheckVisit(const char* path, const VexaFilePieces* file, void* context) {
  auto* run = static_cast<CheckRun*>(context);
  const Options& o = *run->options;
  const bool ok = file->pieces <= o.maxPieces;
  ++run->files;
  if (!ok) ++run->over;
  const std::string shown = FromVolumeText(path);
  if (o.json) {
    std::printf("{\"path\":%s,\"size\":%llu,\"clusters\":%llu,\"pieces\":%u,\"firstCluster\":%lld,\"maxPieces\":%u,"
                "\"ok\":%s}\n",
                JsonString(shown).c_str(), static_cast<unsigned long long>(file->size),
                static_cast<unsigned long long>(file->clusters), file->pieces,
                static_cast<long long>(file->firstCluster), o.maxPieces, ok ? "true" : "false");
  } else if (!o.quiet) {
    std::printf("%7u  %15s  %s%s\n", file->pieces, GroupedNumber(file->size).c_str(), shown.c_str(),
                ok ? "" : "  <- too many pieces");
  }
}

int RunCheck(const EngineApi& api, const Options& o) {
  ExitCode exit;
  CheckRun run{&o};
  if (!o.json && !o.quiet) std::printf("%7s  %15s  %s\n", "pieces", "bytes", "file");
  const std::vector<std::string> paths = o.paths.empty() ? std::vector<std::string>{o.letters + ":\\"} : o.paths;
  for (const std::string& path : paths) {
    if (!NameTextOk(path)) {
      exit.Add(kExitUsage);
      continue;
    }
    const std::int32_t outcome = api.checkFiles(path.c_str(), &CheckVisit, &run);
    exit.Add(CommonOutcome(outcome, path, nullptr));
    if (outcome == VEXA_FILE_BUSY) break;
    if (outcome == VEXA_FILE_STOPPED || StopRequestCount() > 0) {
      exit.Add(kExitStopped);
      break;
    }
  }
  if (!o.json && !o.quiet) {
    std::printf("%d %s checked; %d in more than %u %s.\n", run.files, run.files == 1 ? "file" : "files", run.over,
                o.maxPieces, PieceWord(o.maxPieces));
  }
  if (run.over > 0) exit.Add(kExitOverLimit);
  return exit.Get();
}

// --- contig ---

struct MovedList {
  const Options* options;
  std::string json;  // the "movedFiles" array's items
};

void ContigMoved(const char* path, const VexaMovedFile* move, void* context) {
  auto* list = static_cast<MovedList*>(context);
  const std::string shown = FromVolumeText(path);
  if (!list->json.empty()) list->json += ",";
  list->json += "{\"path\":" + JsonString(shown) + ",\"clusters\":" + std::to_string(move->clusters) +
                ",\"from\":" + std::to_string(move->from) + ",\"to\":" + std::to_string(move->to) + "}";
  if (!list->options->json && !list->options->quiet) {
    std::printf("  moved %s (%s clusters) from cluster %s to %s\n", shown.c_str(), GroupedNumber(move->clusters).c_str(),
                GroupedNumber(static_cast<std::uint64_t>(move->from)).c_str(),
                GroupedNumber(static_cast<std::uint64_t>(move->to)).c_str());
    std::fflush(stdout);
  }
}

void AttributesVisit(const char*, const VexaFilePieces* file, void* context) {
  *static_cast<std::uint32_t*>(context) = file->attributes;
}

// Why contig left the file at `path` in more than one piece, as a defragmentation
// names it; reason 0 when it is in one piece or the outcome says nothing of it.
VexaLeftFile ContigLeft(const EngineApi& api, const std::string& path, std::int32_t outcome, const VexaFileResult& r) {
  VexaLeftFile left{};
  if (r.pieces <= 1) return left;
  left.pieces = r.pieces;
  left.clusters = r.clusters;
  switch (outcome) {
    case VEXA_FILE_NO_RUN:
      left.reason = VEXA_LEFT_NO_RUN;
      left.largestFreeRun = r.largestFreeRun;
      break;
    case VEXA_FILE_STOPPED:
      left.reason = VEXA_LEFT_STOPPED;
      break;
    case VEXA_FILE_FAILED: {
      left.reason = VEXA_LEFT_MOVE_FAILED;
      left.error = r.error;
      std::uint32_t attributes = 0;
      if (r.error == platform::kErrorWriteProtect) {
        left.reason = VEXA_LEFT_READ_ONLY;
      } else if (r.error == platform::kErrorAccessDenied &&
                 api.checkFiles(path.c_str(), &AttributesVisit, &attributes) == VEXA_FILE_DONE &&
                 (attributes & platform::kAttributeSystem) != 0) {
        left.reason = VEXA_LEFT_SYSTEM;
      }
      break;
    }
    default:
      break;
  }
  return left;
}

int RunContig(const EngineApi& api, const Options& o) {
  ExitCode exit;
  for (const std::string& path : o.paths) {
    if (!NameTextOk(path)) {
      exit.Add(kExitUsage);
      continue;
    }
    MovedList moved{&o, ""};
    VexaFileResult r{};
    const std::int32_t outcome =
        api.makeContiguous(path.c_str(), o.makeRoom ? 1 : 0, &ContigMoved, &moved, &r);
    const VexaLeftFile left = ContigLeft(api, path, outcome, r);
    if (o.json) {
      const std::string reason = left.reason == 0 ? "null" : JsonString(LeftReasonName(left.reason));
      const std::string reasonText = left.reason == 0 ? "null" : JsonString(LeftReasonText(left));
      std::printf("{\"path\":%s,\"outcome\":%s,\"piecesBefore\":%u,\"pieces\":%u,\"clusters\":%llu,"
                  "\"firstCluster\":%lld,\"largestFreeRun\":%llu,\"freeClusters\":%llu,\"movedFiles\":[%s],"
                  "\"reason\":%s,\"reasonText\":%s}\n",
                  JsonString(path).c_str(), JsonString(OutcomeName(outcome)).c_str(), r.piecesBefore, r.pieces,
                  static_cast<unsigned long long>(r.clusters), static_cast<long long>(r.firstCluster),
                  static_cast<unsigned long long>(r.largestFreeRun), static_cast<unsigned long long>(r.freeClusters),
                  moved.json.c_str(), reason.c_str(), reasonText.c_str());
    }
    const bool talk = !o.json && !o.quiet;
    if (talk && left.reason != 0 && left.reason != VEXA_LEFT_NO_RUN) {
      // The no-run case has its own message with the figures below.
      std::printf("%s: still in %u %s; %s.\n", path.c_str(), left.pieces, PieceWord(left.pieces),
                  LeftReasonText(left).c_str());
    }
    if (talk && r.movedFiles > 0) {
      std::printf("Moved %u %s toward the start to make room.\n", r.movedFiles, r.movedFiles == 1 ? "file" : "files");
    }
    switch (outcome) {
      case VEXA_FILE_DONE:
        if (talk) {
          std::printf("%s: made contiguous (was %u %s), %s clusters from cluster %s.\n", path.c_str(), r.piecesBefore,
                      PieceWord(r.piecesBefore), GroupedNumber(r.clusters).c_str(),
                      GroupedNumber(static_cast<std::uint64_t>(r.firstCluster)).c_str());
        }
        break;
      case VEXA_FILE_ALREADY_CONTIGUOUS:
        if (talk) std::printf("%s: already in one piece; left alone.\n", path.c_str());
        break;
      case VEXA_FILE_NO_RUN:
        Error(NoRunText(path, r, 1) + (o.makeRoom && r.freeClusters >= r.clusters
                                           ? " (after making room; " + GroupedNumber(r.freeClusters) + " clusters are free in all)"
                                           : !o.makeRoom && r.freeClusters >= r.clusters ? "; --make-room may help"
                                                                                         : ""));
        exit.Add(kExitNoRun);
        break;
      case VEXA_FILE_IS_FOLDER:
        Error(path + " is a folder; name the files to make contiguous");
        exit.Add(kExitUsage);
        break;
      case VEXA_FILE_STOPPED:
        if (talk) std::printf("%s: stopped; every file is whole, this one may lie in fewer pieces.\n", path.c_str());
        break;
      default:
        break;
    }
    exit.Add(CommonOutcome(outcome, path, &r));
    if (outcome == VEXA_FILE_BUSY) break;
    if (outcome == VEXA_FILE_STOPPED || StopRequestCount() > 0) {
      exit.Add(kExitStopped);
      break;
    }
  }
  return exit.Get();
}

// --- put ---

struct Source {
  std::ifstream in;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  bool progress = false;
  int shownPercent = -1;
  std::string name;
};

int32_t ReadSource(uint64_t offset, void* data, uint32_t size, void* context) {
  auto* source = static_cast<Source*>(context);
  if (StopRequestCount() > 0) return 0;  // a stop gives the claimed clusters back
  if (offset != source->position) {
    source->in.clear();
    source->in.seekg(static_cast<std::streamoff>(offset));
  }
  source->in.read(static_cast<char*>(data), size);
  if (static_cast<std::uint64_t>(source->in.gcount()) != size) return 0;
  source->position = offset + size;
  if (source->progress && source->size > 0) {
    const int percent = static_cast<int>(source->position * 100 / source->size);
    if (percent != source->shownPercent) {
      source->shownPercent = percent;
      std::printf("\rCopying %s  %3d%%", source->name.c_str(), percent);
      std::fflush(stdout);
    }
  }
  return 1;
}

std::string BaseName(const std::string& hostPath) { return std::filesystem::path(hostPath).filename().string(); }

int RunPut(const EngineApi& api, const Options& o) {
  Source source;
  std::error_code code;
  if (!std::filesystem::is_regular_file(o.source, code)) {
    Error(o.source + ": no such file");
    return kExitUsage;
  }
  source.size = std::filesystem::file_size(o.source, code);
  const auto written = std::filesystem::last_write_time(o.source, code);
  const std::int64_t lastWrite =
      code ? static_cast<std::int64_t>(std::time(nullptr))
           : std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::file_clock::to_sys(written).time_since_epoch())
                 .count();
  source.in.open(o.source, std::ios::binary);
  if (!source.in) {
    Error(o.source + ": cannot be read");
    return kExitUsage;
  }
  source.name = BaseName(o.source);
  source.progress = !o.quiet && !o.json && platform::IsTerminal(platform::ConsoleStream::kOutput);

  std::string dest = o.paths[0];
  if (dest.back() == '\\') dest += source.name;
  if (!NameTextOk(dest)) return kExitUsage;
  VexaFileResult r{};
  std::int32_t outcome = api.putFile(dest.c_str(), source.size, lastWrite, o.maxPieces, o.replace ? 1 : 0,
                                     &ReadSource, &source, &r);
  if (outcome == VEXA_FILE_IS_FOLDER) {
    dest += "\\" + source.name;
    if (!NameTextOk(dest)) return kExitUsage;
    outcome = api.putFile(dest.c_str(), source.size, lastWrite, o.maxPieces, o.replace ? 1 : 0,
                          &ReadSource, &source, &r);
  }
  if (source.shownPercent >= 0) std::printf("\n");
  const bool stopped = StopRequestCount() > 0;
  if (o.json) {
    std::printf("{\"source\":%s,\"path\":%s,\"outcome\":%s,\"size\":%llu,\"clusters\":%llu,\"pieces\":%u,"
                "\"firstCluster\":%lld,\"largestFreeRun\":%llu,\"freeClusters\":%llu,\"runsNeeded\":%u}\n",
                JsonString(o.source).c_str(), JsonString(dest).c_str(),
                JsonString(stopped ? "stopped" : OutcomeName(outcome)).c_str(), static_cast<unsigned long long>(source.size),
                static_cast<unsigned long long>(r.clusters), r.pieces, static_cast<long long>(r.firstCluster),
                static_cast<unsigned long long>(r.largestFreeRun), static_cast<unsigned long long>(r.freeClusters),
                r.runsNeeded);
  }
  if (stopped) {
    if (!o.quiet && !o.json) std::printf("Stopped: %s was not copied in.\n", dest.c_str());
    return kExitStopped;
  }
  switch (outcome) {
    case VEXA_FILE_DONE:
      if (!o.quiet && !o.json) {
        std::printf("Copied %s to %s: %s bytes in %u %s", o.source.c_str(), dest.c_str(),
                    GroupedNumber(source.size).c_str(), r.pieces, PieceWord(r.pieces));
        if (r.firstCluster >= 0) {
          std::printf(" from cluster %s", GroupedNumber(static_cast<std::uint64_t>(r.firstCluster)).c_str());
        }
        std::printf(".\n");
      }
      return kExitDone;
    case VEXA_FILE_NO_RUN:
      Error(NoRunText(dest, r, o.maxPieces));
      return kExitNoRun;
    case VEXA_FILE_EXISTS:
      Error(dest + " exists; give --replace to replace it");
      return kExitUsage;
    case VEXA_FILE_IS_FOLDER:
      Error(dest + " is a folder");
      return kExitUsage;
    case VEXA_FILE_NOT_FOUND:
      Error(dest + ": its folder does not exist");
      return kExitUsage;
    case VEXA_FILE_BAD_NAME:
      Error(dest + ": no file can have that name");
      return kExitUsage;
    case VEXA_FILE_SOURCE_FAILED:
      Error(o.source + ": could not be read to the end; nothing was copied in");
      return kExitUsage;
    case VEXA_FILE_TOO_LARGE:
      Error(o.source + ": a FAT file holds less than 4 GiB");
      return kExitUsage;
    case VEXA_FILE_FOLDER_FULL:
      Error(dest + ": its folder can take no more entries");
      return kExitNoRun;
    case VEXA_FILE_SPLIT_ENTRY:
      Error(dest + ": its folder entry (or its folder's) would span two sectors, which cannot be changed in one "
                   "safe write; nothing was copied in");
      return kExitVolume;
    case VEXA_FILE_NOT_SUPPORTED:
      Error(dest + ": files can be copied in only on volumes served from an image or device (--volume)");
      return kExitVolume;
    default: {
      const int exit = CommonOutcome(outcome, dest, &r);
      return exit == kExitDone ? kExitVolume : exit;
    }
  }
}

}  // namespace

std::string GroupedNumber(std::uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string NoRunText(const std::string& path, const VexaFileResult& result, std::uint32_t maxPieces) {
  if (maxPieces <= 1) {
    return path + " needs " + GroupedNumber(result.clusters) + " contiguous clusters; the largest free run has " +
           GroupedNumber(result.largestFreeRun);
  }
  std::string text = path + " needs " + GroupedNumber(result.clusters) + " clusters in at most " +
                     std::to_string(maxPieces) + " pieces; the largest free run has " +
                     GroupedNumber(result.largestFreeRun);
  if (result.runsNeeded > 0) {
    text += " and it would take " + std::to_string(result.runsNeeded) + " runs";
  } else {
    text += " and only " + GroupedNumber(result.freeClusters) + " clusters are free";
  }
  return text;
}

int RunPerFileCommand(const Options& options, const std::string& engineFolder) {
  EngineSession session;
  const int opened =
      session.Open(engineFolder, options.volumes, options.letters, options.command != Command::kCheck, options.quiet);
  if (opened != kExitDone) return opened;
  if (StopRequestCount() > 0) return kExitStopped;
  int exit = kExitDone;
  switch (options.command) {
    case Command::kCheck:
      exit = RunCheck(session.Api(), options);
      break;
    case Command::kContig:
      exit = RunContig(session.Api(), options);
      break;
    default:
      exit = RunPut(session.Api(), options);
      break;
  }
  std::fflush(stdout);
  return exit;
}

}  // namespace cli
