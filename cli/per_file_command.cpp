// check, contig and put: one volume, file by file.
#include "per_file_command.h"

#include <chrono>
#include <cstring>
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

// Why `text` cannot name anything on a volume; empty when it can. Off Windows names are
// UTF-8, and bytes that are not cannot be stored or matched as typed.
std::string NameTextProblem(const std::string& text) {
#ifdef _WIN32
  (void)text;
  return {};
#else
  if (platform::IsValidUtf8(text)) return {};
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
  return shown + ": not valid UTF-8; names on the volume are written in UTF-8";
#endif
}

// What went wrong with one path: the exit code and the sentence; kExitDone and no text
// when nothing did.
struct Failure {
  int exit = kExitDone;
  std::string text;
};

// The JSON value of a failure's text: null when there is none.
std::string JsonError(const Failure& failure) {
  return failure.text.empty() ? "null" : JsonString(FromVolumeText(failure.text));
}

// Says a failure on standard error and, with --json, as an object of its own for a path
// that has no other object.
void Report(const Options& o, const std::string& path, const Failure& failure) {
  if (failure.text.empty()) return;
  Error(failure.text);
  if (o.json) {
    std::printf("{\"path\":%s,\"error\":%s}\n", JsonString(FromVolumeText(path)).c_str(), JsonError(failure).c_str());
  }
}

// The exit code and message of an outcome every command shares; kExitDone when the
// outcome is the command's own to explain.
Failure CommonFailure(std::int32_t outcome, const std::string& path, const VexaFileResult* result) {
  switch (outcome) {
    case VEXA_FILE_NOT_FOUND:
      return {kExitUsage, path + ": no such file or folder"};
    case VEXA_FILE_NO_VOLUME:
      return {kExitVolume, path + ": the volume is not open"};
    case VEXA_FILE_BUSY:
      return {kExitBusy, std::string(kBusyMessage) + " It holds the volumes until it ends; try again then."};
    case VEXA_FILE_STOPPED:
      return {kExitStopped, ""};
    case VEXA_FILE_FAILED:
      return {kExitVolume, path + ": the volume refused a write (Windows error " +
                               std::to_string(result ? result->error : 0) + "); it is left read-only for this run"};
    default:
      return {};
  }
}

// A cluster number as the file system itself numbers it (what fsck and mshowfat print):
// the engine counts from the first data cluster, which FAT and exFAT number 2.
std::int64_t ShownCluster(std::int64_t logical, std::int64_t base) { return logical < 0 ? logical : logical + base; }

// --- check ---

struct CheckRun {
  const Options* options;
  std::int64_t clusterBase;
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
                static_cast<long long>(ShownCluster(file->firstCluster, run->clusterBase)), o.maxPieces,
                ok ? "true" : "false");
  } else if (!o.quiet) {
    std::printf("%7u  %15s  %s%s\n", file->pieces, GroupedNumber(file->size).c_str(), shown.c_str(),
                ok ? "" : "  <- too many pieces");
  }
}

int RunCheck(const EngineApi& api, const Options& o, std::int64_t clusterBase) {
  ExitCode exit;
  CheckRun run{&o, clusterBase};
  if (!o.json && !o.quiet) std::printf("%7s  %15s  %s\n", "pieces", "bytes", "file");
  const std::vector<std::string> paths = o.paths.empty() ? std::vector<std::string>{o.letters + ":\\"} : o.paths;
  bool busy = false;
  for (const std::string& path : paths) {
    if (const std::string why = NameTextProblem(path); !why.empty()) {
      Report(o, path, {kExitUsage, why});
      exit.Add(kExitUsage);
      continue;
    }
    const std::int32_t outcome = api.checkFiles(path.c_str(), &CheckVisit, &run);
    const Failure failure = CommonFailure(outcome, path, nullptr);
    Report(o, path, failure);
    exit.Add(failure.exit);
    if (outcome == VEXA_FILE_BUSY) {
      busy = true;
      break;
    }
    if (outcome == VEXA_FILE_STOPPED || StopRequestCount() > 0) {
      exit.Add(kExitStopped);
      break;
    }
  }
  // A count of files never looked at would read as an empty volume.
  if (!o.json && !o.quiet && !busy) {
    std::printf("%d %s checked; %d in more than %u %s.\n", run.files, run.files == 1 ? "file" : "files", run.over,
                o.maxPieces, PieceWord(o.maxPieces));
  }
  if (run.over > 0) exit.Add(kExitOverLimit);
  return exit.Get();
}

// --- contig ---

struct MovedList {
  const Options* options;
  std::int64_t clusterBase;
  std::string json;  // the "movedFiles" array's items
};

void ContigMoved(const char* path, const VexaMovedFile* move, void* context) {
  auto* list = static_cast<MovedList*>(context);
  const std::string shown = FromVolumeText(path);
  const std::int64_t from = ShownCluster(move->from, list->clusterBase);
  const std::int64_t to = ShownCluster(move->to, list->clusterBase);
  if (!list->json.empty()) list->json += ",";
  list->json += "{\"path\":" + JsonString(shown) + ",\"clusters\":" + std::to_string(move->clusters) +
                ",\"from\":" + std::to_string(from) + ",\"to\":" + std::to_string(to) + "}";
  if (!list->options->json && !list->options->quiet) {
    std::printf("  moved %s (%s clusters) from cluster %s to %s\n", shown.c_str(), GroupedNumber(move->clusters).c_str(),
                GroupedNumber(static_cast<std::uint64_t>(from)).c_str(), GroupedNumber(static_cast<std::uint64_t>(to)).c_str());
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
    case VEXA_FILE_SPLIT_ENTRY:
      left.reason = VEXA_LEFT_ENTRY_SPANS_SECTORS;
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

// What went wrong with contig on one file, beyond what every command shares.
Failure ContigFailure(std::int32_t outcome, const std::string& path, const VexaFileResult& r, bool makeRoom) {
  switch (outcome) {
    case VEXA_FILE_NO_RUN:
      return {kExitNoRun, NoRunText(path, r, 1) +
                              (makeRoom && r.freeClusters >= r.clusters
                                   ? " (after making room; " + GroupedNumber(r.freeClusters) + " clusters are free in all)"
                               : !makeRoom && r.freeClusters >= r.clusters ? "; --make-room may help"
                                                                           : "")};
    case VEXA_FILE_IS_FOLDER:
      return {kExitUsage, path + " is a folder; name the files to make contiguous"};
    case VEXA_FILE_SPLIT_ENTRY:
      return {kExitVolume, path + ": its exFAT directory entry spans two sectors, so no single write can switch it to "
                                  "new clusters; it is never moved (copying it anew, with put --replace, rewrites "
                                  "the entry)"};
    default:
      return CommonFailure(outcome, path, &r);
  }
}

int RunContig(const EngineApi& api, const Options& o, std::int64_t clusterBase) {
  ExitCode exit;
  for (const std::string& path : o.paths) {
    if (const std::string why = NameTextProblem(path); !why.empty()) {
      Report(o, path, {kExitUsage, why});
      exit.Add(kExitUsage);
      continue;
    }
    MovedList moved{&o, clusterBase, ""};
    VexaFileResult r{};
    const std::int32_t outcome =
        api.makeContiguous(path.c_str(), o.makeRoom ? 1 : 0, &ContigMoved, &moved, &r);
    const VexaLeftFile left = ContigLeft(api, path, outcome, r);
    const Failure failure = ContigFailure(outcome, path, r, o.makeRoom);
    if (o.json) {
      const std::string reason = left.reason == 0 ? "null" : JsonString(LeftReasonName(left.reason));
      const std::string reasonText = left.reason == 0 ? "null" : JsonString(LeftReasonText(left));
      std::printf("{\"path\":%s,\"outcome\":%s,\"piecesBefore\":%u,\"pieces\":%u,\"clusters\":%llu,"
                  "\"firstCluster\":%lld,\"largestFreeRun\":%llu,\"freeClusters\":%llu,\"movedFiles\":[%s],"
                  "\"reason\":%s,\"reasonText\":%s,\"error\":%s}\n",
                  JsonString(FromVolumeText(path)).c_str(), JsonString(OutcomeName(outcome)).c_str(), r.piecesBefore,
                  r.pieces, static_cast<unsigned long long>(r.clusters),
                  static_cast<long long>(ShownCluster(r.firstCluster, clusterBase)),
                  static_cast<unsigned long long>(r.largestFreeRun), static_cast<unsigned long long>(r.freeClusters),
                  moved.json.c_str(), reason.c_str(), reasonText.c_str(), JsonError(failure).c_str());
    }
    const bool talk = !o.json && !o.quiet;
    // The no-run and split-entry cases have their own messages, with the figures, below.
    if (talk && left.reason != 0 && left.reason != VEXA_LEFT_NO_RUN && left.reason != VEXA_LEFT_ENTRY_SPANS_SECTORS) {
      std::printf("%s: still in %u %s; %s.\n", path.c_str(), left.pieces, PieceWord(left.pieces),
                  LeftReasonText(left).c_str());
    }
    if (talk && r.movedFiles > 0) {
      std::printf("Moved %u %s toward the start to make room.\n", r.movedFiles, r.movedFiles == 1 ? "file" : "files");
    }
    if (talk && outcome == VEXA_FILE_DONE) {
      std::printf("%s: made contiguous (was %u %s), %s clusters from cluster %s.\n", path.c_str(), r.piecesBefore,
                  PieceWord(r.piecesBefore), GroupedNumber(r.clusters).c_str(),
                  GroupedNumber(static_cast<std::uint64_t>(ShownCluster(r.firstCluster, clusterBase))).c_str());
    } else if (talk && outcome == VEXA_FILE_ALREADY_CONTIGUOUS) {
      std::printf("%s: already in one piece; left alone.\n", path.c_str());
    } else if (talk && outcome == VEXA_FILE_STOPPED) {
      std::printf("%s: stopped; every file is whole, this one may lie in fewer pieces.\n", path.c_str());
    }
    if (!failure.text.empty()) Error(failure.text);
    exit.Add(failure.exit);
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

// Why SOURCE cannot be copied in before the volume is touched: a folder, a device or a
// missing file each say so. Empty when it is a regular file.
std::string SourceProblem(const std::string& source) {
  std::error_code code;
  const auto status = std::filesystem::status(source, code);
  if (status.type() == std::filesystem::file_type::regular) return "";
  if (status.type() == std::filesystem::file_type::directory) {
    return source + " is a folder; put copies one file: name a file in it";
  }
  if (status.type() == std::filesystem::file_type::block || status.type() == std::filesystem::file_type::character) {
    return source + " is a device, not a file; copy it to an image file first (dd if=" + source +
           " of=copy.img) and put that";
  }
  if (std::filesystem::exists(status)) return source + " is not a regular file (a pipe or socket); put copies files";
  return source + ": no such file";
}

// What went wrong with put, beyond what every command shares.
Failure PutFailure(std::int32_t outcome, const std::string& dest, const Options& o, const VexaFileResult& r) {
  switch (outcome) {
    case VEXA_FILE_NO_RUN:
      return {kExitNoRun, NoRunText(dest, r, o.maxPieces)};
    case VEXA_FILE_EXISTS:
      return {kExitUsage, dest + " exists; give --replace to replace it"};
    case VEXA_FILE_IS_FOLDER:
      return {kExitUsage, dest + " is a folder"};
    case VEXA_FILE_NOT_FOUND:
      return {kExitUsage, dest + ": its folder does not exist"};
    case VEXA_FILE_BAD_NAME:
      return {kExitUsage, dest + ": no file can have that name"};
    case VEXA_FILE_SOURCE_FAILED:
      return {kExitUsage, o.source + ": could not be read to the end; nothing was copied in"};
    case VEXA_FILE_TOO_LARGE:
      return {kExitUsage, o.source + ": a FAT file holds less than 4 GiB"};
    case VEXA_FILE_FOLDER_FULL:
      return {kExitNoRun, dest + ": its folder can take no more entries"};
    case VEXA_FILE_SPLIT_ENTRY:
      return {kExitVolume, dest + ": its folder entry (or its folder's) would span two sectors, which cannot be "
                                  "changed in one safe write; nothing was copied in"};
    case VEXA_FILE_NOT_SUPPORTED:
      return {kExitVolume, dest + ": files can be copied in only on volumes served from an image or device (--volume)"};
    case VEXA_FILE_DONE:
      return {};
    default: {
      Failure failure = CommonFailure(outcome, dest, &r);
      if (failure.exit == kExitDone) failure.exit = kExitVolume;
      return failure;
    }
  }
}

// The last name of a full volume path ("C:\GAMES\X.ISO" gives "X.ISO").
std::string LastName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

void PrintPutJson(const Options& o, const std::string& dest, const std::string& outcome, std::uint64_t size,
                  const VexaFileResult& r, std::int64_t clusterBase, const Failure& failure) {
  std::printf("{\"source\":%s,\"path\":%s,\"outcome\":%s,\"size\":%llu,\"clusters\":%llu,\"pieces\":%u,"
              "\"firstCluster\":%lld,\"largestFreeRun\":%llu,\"freeClusters\":%llu,\"runsNeeded\":%u,\"error\":%s}\n",
              JsonString(o.source).c_str(), JsonString(FromVolumeText(dest)).c_str(), JsonString(outcome).c_str(),
              static_cast<unsigned long long>(size), static_cast<unsigned long long>(r.clusters), r.pieces,
              static_cast<long long>(ShownCluster(r.firstCluster, clusterBase)),
              static_cast<unsigned long long>(r.largestFreeRun), static_cast<unsigned long long>(r.freeClusters),
              r.runsNeeded, JsonError(failure).c_str());
}

int RunPut(const EngineApi& api, const Options& o, std::int64_t clusterBase) {
  Source source;
  std::string dest = o.paths[0];
  const auto refuse = [&](const Failure& failure) {
    Error(failure.text);
    if (o.json) PrintPutJson(o, dest, "refused", source.size, VexaFileResult{}, clusterBase, failure);
    return failure.exit;
  };
  if (const std::string problem = SourceProblem(o.source); !problem.empty()) return refuse({kExitUsage, problem});
  std::error_code code;
  source.size = std::filesystem::file_size(o.source, code);
  const auto written = std::filesystem::last_write_time(o.source, code);
  const std::int64_t lastWrite =
      code ? static_cast<std::int64_t>(std::time(nullptr))
           : std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::file_clock::to_sys(written).time_since_epoch())
                 .count();
  source.in.open(o.source, std::ios::binary);
  if (!source.in) return refuse({kExitUsage, o.source + ": cannot be read"});
  source.name = BaseName(o.source);
  source.progress = !o.quiet && !o.json && platform::IsTerminal(platform::ConsoleStream::kOutput);

  if (dest.back() == '\\') dest += source.name;
  if (const std::string why = NameTextProblem(dest); !why.empty()) return refuse({kExitUsage, why});
  if (const std::string why = FileNameProblem(LastName(dest)); !why.empty()) {
    return refuse({kExitUsage, dest + ": " + why});
  }
  VexaFileResult r{};
  std::int32_t outcome = api.putFile(dest.c_str(), source.size, lastWrite, o.maxPieces, o.replace ? 1 : 0,
                                     &ReadSource, &source, &r);
  if (outcome == VEXA_FILE_IS_FOLDER) {
    dest += "\\" + source.name;
    if (const std::string why = NameTextProblem(dest); !why.empty()) return refuse({kExitUsage, why});
    if (const std::string why = FileNameProblem(source.name); !why.empty()) {
      return refuse({kExitUsage, dest + ": " + why});
    }
    outcome = api.putFile(dest.c_str(), source.size, lastWrite, o.maxPieces, o.replace ? 1 : 0,
                          &ReadSource, &source, &r);
  }
  if (source.shownPercent >= 0) std::printf("\n");
  const bool stopped = StopRequestCount() > 0;
  const Failure failure = stopped ? Failure{kExitStopped, ""} : PutFailure(outcome, dest, o, r);
  if (o.json) PrintPutJson(o, dest, stopped ? "stopped" : OutcomeName(outcome), source.size, r, clusterBase, failure);
  if (stopped) {
    if (!o.quiet && !o.json) std::printf("Stopped: %s was not copied in.\n", dest.c_str());
    return kExitStopped;
  }
  if (outcome == VEXA_FILE_DONE && !o.quiet && !o.json) {
    std::printf("Copied %s to %s: %s bytes in %u %s", o.source.c_str(), dest.c_str(), GroupedNumber(source.size).c_str(),
                r.pieces, PieceWord(r.pieces));
    if (r.firstCluster >= 0) {
      std::printf(" from cluster %s",
                  GroupedNumber(static_cast<std::uint64_t>(ShownCluster(r.firstCluster, clusterBase))).c_str());
    }
    std::printf(".\n");
  }
  if (!failure.text.empty()) Error(failure.text);
  return failure.exit;
}

}  // namespace

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
  // check only reads: it runs from an engine folder it may not write, and a volume that
  // cannot be changed is named for what it is to contig and put.
  if (options.command == Command::kCheck) session.AllowReadOnlyFolder();
  if (options.command != Command::kCheck) session.NameWriter(options.command == Command::kContig ? "contig" : "put");
  std::vector<VolumeProblem> refused;
  const int opened = session.Open(engineFolder, options.volumes, options.letters, options.command != Command::kCheck,
                                  options.quiet, &refused);
  if (opened != kExitDone) {
    if (options.json) {
      std::string text;
      for (const VolumeProblem& problem : refused) {
        if (text.find(problem.text) == std::string::npos) text += (text.empty() ? "" : "; ") + problem.text;
      }
      const std::vector<std::string> paths =
          options.paths.empty() ? std::vector<std::string>{options.letters + ":\\"} : options.paths;
      for (const std::string& path : paths) {
        std::printf("{\"path\":%s,\"error\":%s}\n", JsonString(FromVolumeText(path)).c_str(),
                    JsonString(text.empty() ? "the volume cannot be used" : text).c_str());
      }
      std::fflush(stdout);
    }
    return opened;
  }
  if (StopRequestCount() > 0) return kExitStopped;
  // The engine counts clusters from the first data cluster; FAT and exFAT number that one 2.
  std::int64_t clusterBase = 0;
  if (const VexaVolumeInfo* info = session.Api().getVolumeInfo(options.letters[0]); info != nullptr) {
    const std::string fileSystem(info->fileSystem, strnlen(info->fileSystem, sizeof info->fileSystem));
    if (fileSystem.rfind("FAT", 0) == 0 || fileSystem == "exFAT") clusterBase = 2;
  }
  int exit = kExitDone;
  switch (options.command) {
    case Command::kCheck:
      exit = RunCheck(session.Api(), options, clusterBase);
      break;
    case Command::kContig:
      exit = RunContig(session.Api(), options, clusterBase);
      break;
    default:
      exit = RunPut(session.Api(), options, clusterBase);
      break;
  }
  std::fflush(stdout);
  return exit;
}

}  // namespace cli
