// Per-file work: check, contig (with room making) and put.
//
// contig follows file relocation: the free-run map built from the bitmap picks the
// smallest run that holds the whole file (of equal lengths, the one nearest the start)
// and the file's extents are moved into it one move call each, in order. Room making
// follows the in-depth pass: every other file in one piece, largest first, goes into
// the first free run before it that holds it; rounds repeat while files still move and
// end as soon as a run holds the file. put picks its runs from the same bitmap and
// leaves the writing to the provider, which names the file only once its content is
// on the disk.
#include "defrag/per_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "analysis/folder_walk.h"
#include "analysis/free_runs.h"
#include "core/engine.h"
#include "core/file_handle.h"
#include "core/job_control.h"
#include "core/text.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "defrag/in_depth_pass.h"
#include "platform/name_text.h"
#include "platform/path_parts.h"

namespace vexa {
namespace {

// Room making gives up after this many rounds over the candidates.
constexpr int kMaxRoomRounds = 16;

// The job slots and the machine-wide job lock, held for one per-file call as a job
// export holds them.
class PerFileJob {
 public:
  PerFileJob() : claimed_(ClaimCallerJob()) {}
  ~PerFileJob() {
    if (claimed_) ReleaseCallerJob();
  }
  PerFileJob(const PerFileJob&) = delete;
  PerFileJob& operator=(const PerFileJob&) = delete;
  bool Claimed() const { return claimed_; }

 private:
  bool claimed_;
};


// The open volume a full path lies on, or null.
VolumeRecord* VolumeOfPath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return nullptr;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  if (letter < 'C' || letter > 'Z') return nullptr;
  return OpenVolumeOfSlot(SlotOfLetter(letter));
}

std::string FindName(const platform::WIN32_FIND_DATAA& data) {
  return std::string(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
}

std::uint64_t FindSize(const platform::WIN32_FIND_DATAA& data) {
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Names typed and stored are the same name in any case: by Unicode simple case folding
// off Windows (names are UTF-8 there), as the A-functions compare on Windows.
bool SameEntryName(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return EqualsNoCase(a, b);
#else
  return platform::SameNameText(a, b);
#endif
}

bool IsFolder(const platform::WIN32_FIND_DATAA& data) {
  return (data.dwFileAttributes & platform::kAttributeDirectory) != 0;
}

// A path followed name by name through folder searches, so it is found however it was
// typed (either case, long name or 8.3 alias) and comes back with the stored names.
struct Resolved {
  std::string path;  // "C:\GAMES\X.ISO"; "C:\" for the root
  bool folder = true;
  platform::WIN32_FIND_DATAA data{};  // the entry (not for the root)
};

bool Resolve(const std::string& path, Resolved* out) {
  *out = Resolved{};
  std::string at = {static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))), ':'};
  for (const std::string& name : platform::PathComponents(path.substr(2))) {
    if (name == ".") continue;
    if (!out->folder || name == "..") return false;
    platform::WIN32_FIND_DATAA data{};
    const platform::Handle search = gMachine->FindFirst((at + "\\*").c_str(), &data);
    if (search == platform::kInvalidHandle) return false;
    bool found = false;
    do {
      const std::string stored = FindName(data);
      const std::string alias(data.cAlternateFileName, strnlen(data.cAlternateFileName, sizeof data.cAlternateFileName));
      found = stored != "." && stored != ".." && (SameEntryName(stored, name) || (!alias.empty() && SameEntryName(alias, name)));
    } while (!found && gMachine->FindNext(search, &data));
    gMachine->FindClose(search);
    if (!found) return false;
    at += "\\" + FindName(data);
    out->folder = IsFolder(data);
    out->data = data;
  }
  out->path = at.size() == 2 ? at + "\\" : at;
  return true;
}

// The extents of the open file `file` into gExtentBuffer; false when they cannot be
// read. A file without clusters reads as no extents.
bool ReadFileExtents(platform::Handle file) {
  platform::RETRIEVAL_POINTERS_BUFFER probe{};
  if (gMachine->GetRetrievalPointers(file, 0, &probe, sizeof probe) == platform::kErrorHandleEof) {
    gExtentBuffer.Data()->ExtentCount = 0;
    gExtentBuffer.Data()->StartingVcn = 0;
    return true;
  }
  return ReadExtents(*gMachine, file, gExtentBuffer, kExtentGrowthLarge);
}

// Figures of gExtentBuffer's extents.
void ExtentFigures(VexaFilePieces* out) {
  const ExtentBuffer& e = gExtentBuffer;
  out->pieces = CountPieces(e);
  out->clusters = 0;
  out->firstCluster = -1;
  for (std::uint32_t i = 0; i < e.ExtentCount(); ++i) {
    const std::int64_t from = i == 0 ? e.StartingVcn() : e.NextVcn(i - 1);
    if (e.Lcn(i) == platform::kVirtualLcn) continue;
    if (out->firstCluster < 0) out->firstCluster = e.Lcn(i);
    out->clusters += static_cast<std::uint64_t>(e.NextVcn(i) - from);
  }
}

// The figures of one file; false when its extents cannot be read.
bool FileFigures(const std::string& path, const platform::WIN32_FIND_DATAA& data, VexaFilePieces* out) {
  *out = VexaFilePieces{};
  out->size = FindSize(data);
  out->attributes = data.dwFileAttributes;
  FileHandle file(gMachine->OpenFileForQuery(path.c_str()));
  if (file.Get() == platform::kInvalidHandle || !ReadFileExtents(file.Get())) return false;
  ExtentFigures(out);
  return true;
}

// Calls `visit` for every file under `folder`, depth first in directory order. False
// when a stop request ended the walk.
bool WalkFolder(const std::string& folder, const std::function<void(const std::string&, const platform::WIN32_FIND_DATAA&)>& visit) {
  std::vector<std::string> subfolders;
  platform::WIN32_FIND_DATAA data{};
  const std::string base = folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
  {
    const Search search(*gMachine, gMachine->FindFirst((base + "\\*").c_str(), &data));
    if (search.Get() == platform::kInvalidHandle) return true;
    do {
      if (StopRequested()) break;
      const std::string name = FindName(data);
      if (name == "." || name == "..") continue;
      if (IsFolder(data)) {
        subfolders.push_back(base + "\\" + name);
      } else {
        visit(base + "\\" + name, data);
      }
    } while (gMachine->FindNext(search.Get(), &data));
  }
  for (const std::string& sub : subfolders) {
    if (StopRequested() || !WalkFolder(sub, visit)) return false;
  }
  return !StopRequested();
}

// The volume's free runs from a fresh bitmap read; false when it cannot be read.
bool ReadFreeRuns(VolumeRecord& v, std::vector<std::pair<std::int64_t, std::int64_t>>* runs) {
  std::int64_t total = 0;
  if (!ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &total)) return false;
  runs->clear();
  ForEachFreeRun(gBitmapBuffer.Bits(), total, [&](std::int64_t first, std::int64_t length) {
    runs->emplace_back(first, length);
  });
  return true;
}

void RunFigures(const std::vector<std::pair<std::int64_t, std::int64_t>>& runs, VexaFileResult* result) {
  result->largestFreeRun = 0;
  result->freeClusters = 0;
  for (const auto& [first, length] : runs) {
    result->largestFreeRun = std::max(result->largestFreeRun, static_cast<std::uint64_t>(length));
    result->freeClusters += static_cast<std::uint64_t>(length);
  }
}

// Moves the file's extents (in gExtentBuffer) one after another into the run at
// `target`, as relocation does. Returns VEXA_FILE_DONE, _STOPPED or _FAILED (*error set).
std::int32_t MoveExtentsTo(VolumeRecord& v, platform::Handle file, std::int64_t target, std::uint32_t* error) {
  const ExtentBuffer& e = gExtentBuffer;
  std::vector<std::pair<std::int64_t, std::int64_t>> pieces;  // first vcn, length
  for (std::uint32_t i = 0; i < e.ExtentCount(); ++i) {
    const std::int64_t from = i == 0 ? e.StartingVcn() : e.NextVcn(i - 1);
    pieces.emplace_back(from, e.NextVcn(i) - from);
  }
  BeginMove();
  for (const auto& [vcn, length] : pieces) {
    platform::MOVE_FILE_DATA move{};
    move.FileHandle = file;
    move.StartingVcn = vcn;
    move.StartingLcn = target;
    move.ClusterCount = static_cast<std::uint32_t>(length);
    gWork.moveStartingVcn.store(static_cast<std::uint64_t>(vcn), std::memory_order_relaxed);
    gWork.moveTargetLcn.store(static_cast<std::uint64_t>(target), std::memory_order_relaxed);
    if (StopRequested()) {
      EndMove();
      return VEXA_FILE_STOPPED;
    }
    const std::uint32_t rc = gMachine->MoveFile(v.volume, move);
    if (rc != platform::kErrorSuccess) {
      EndMove();
      *error = rc;
      return VEXA_FILE_FAILED;
    }
    target += length;
  }
  EndMove();
  return VEXA_FILE_DONE;
}

// A file in one piece that room making may move.
struct RoomCandidate {
  std::string path;
  std::int64_t first;
};

// Moves files in one piece toward the start until a free run holds `clusters`, never
// the file at `keep`. Calls `moved` for each move. Returns VEXA_FILE_DONE when a run is
// large enough, _NO_RUN when the moves ran out, _STOPPED or _FAILED.
std::int32_t MakeRoom(VolumeRecord& v, const std::string& keep, std::int64_t clusters, const MovedVisitor& moved,
                      VexaFileResult* result) {
  std::multimap<std::int64_t, RoomCandidate, std::greater<std::int64_t>> candidates;
  const std::string root = keep.substr(0, 2) + "\\";
  const bool walked = WalkFolder(root, [&](const std::string& path, const platform::WIN32_FIND_DATAA&) {
    if (EqualsNoCase(path, keep)) return;
    VexaFilePieces figures{};
    platform::WIN32_FIND_DATAA none{};
    if (!FileFigures(path, none, &figures) || figures.pieces != 1) return;
    candidates.emplace(static_cast<std::int64_t>(figures.clusters), RoomCandidate{path, figures.firstCluster});
  });
  if (!walked) return VEXA_FILE_STOPPED;

  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (int round = 0; round < kMaxRoomRounds; ++round) {
    bool any = false;
    for (auto& [length, candidate] : candidates) {
      if (StopRequested()) return VEXA_FILE_STOPPED;
      if (!ReadFreeRuns(v, &runs)) return VEXA_FILE_FAILED;
      RunFigures(runs, result);
      if (result->largestFreeRun >= static_cast<std::uint64_t>(clusters)) return VEXA_FILE_DONE;
      FreeRunsByStart byStart;
      for (const auto& [first, runLength] : runs) byStart.emplace_hint(byStart.end(), first, runLength);
      const std::optional<std::int64_t> run = ChooseInDepthRun(byStart, candidate.first, length);
      if (!run) continue;
      FileHandle file(gMachine->OpenFileForQuery(candidate.path.c_str()));
      if (file.Get() == platform::kInvalidHandle) continue;
      BeginMove();
      platform::MOVE_FILE_DATA move{};
      move.FileHandle = file.Get();
      move.StartingVcn = 0;
      move.StartingLcn = *run;
      move.ClusterCount = static_cast<std::uint32_t>(length);
      gWork.moveStartingVcn.store(0, std::memory_order_relaxed);
      gWork.moveTargetLcn.store(static_cast<std::uint64_t>(*run), std::memory_order_relaxed);
      const std::uint32_t rc = StopRequested() ? platform::kErrorSuccess : gMachine->MoveFile(v.volume, move);
      EndMove();
      if (StopRequested()) return VEXA_FILE_STOPPED;
      if (rc != platform::kErrorSuccess) {
        result->error = rc;
        return VEXA_FILE_FAILED;
      }
      if (moved) moved(candidate.path, VexaMovedFile{static_cast<std::uint64_t>(length), candidate.first, *run});
      ++result->movedFiles;
      candidate.first = *run;
      any = true;
    }
    if (!any) break;
  }
  if (!ReadFreeRuns(v, &runs)) return VEXA_FILE_FAILED;
  RunFigures(runs, result);
  return result->largestFreeRun >= static_cast<std::uint64_t>(clusters) ? VEXA_FILE_DONE : VEXA_FILE_NO_RUN;
}

std::int32_t Outcome(VexaFileResult* result, std::int32_t outcome) {
  result->outcome = outcome;
  return outcome;
}

std::int32_t MakeContiguousOn(VolumeRecord& volume, const std::string& path, bool makeRoom,
                              const MovedVisitor& moved, VexaFileResult* result);

}  // namespace

std::uint32_t CountPieces(const ExtentBuffer& extents) {
  std::uint32_t pieces = 0;
  std::int64_t nextLcn = -1;  // where a piece continuing the previous one would start
  for (std::uint32_t i = 0; i < extents.ExtentCount(); ++i) {
    const std::int64_t from = i == 0 ? extents.StartingVcn() : extents.NextVcn(i - 1);
    const std::int64_t lcn = extents.Lcn(i);
    if (lcn == platform::kVirtualLcn) {
      nextLcn = -1;
      continue;
    }
    if (lcn != nextLcn) ++pieces;
    nextLcn = lcn + (extents.NextVcn(i) - from);
  }
  return pieces;
}

std::vector<platform::FileRun> ChooseNewFileRuns(const std::vector<std::pair<std::int64_t, std::int64_t>>& freeRuns,
                                                    std::int64_t clusters, std::uint32_t maxPieces,
                                                    std::uint32_t* runsNeeded) {
  *runsNeeded = 0;
  std::vector<platform::FileRun> chosen;
  if (clusters <= 0) return chosen;
  // One run: the relocation rule.
  FreeRunMap byLength;
  for (const auto& [first, length] : freeRuns) byLength.emplace(length, first);
  const auto fit = byLength.lower_bound(clusters);
  if (fit != byLength.end()) {
    *runsNeeded = 1;
    if (maxPieces >= 1) chosen.push_back({fit->second, clusters});
    return chosen;
  }
  // Several: largest first, nearest the start among equals.
  std::vector<std::pair<std::int64_t, std::int64_t>> order = freeRuns;
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::int64_t covered = 0;
  std::size_t taken = 0;
  while (taken < order.size() && covered < clusters) covered += order[taken++].second;
  if (covered < clusters) return chosen;
  *runsNeeded = static_cast<std::uint32_t>(taken);
  if (taken > maxPieces) return chosen;
  // The last run only holds the rest: the smallest run not yet taken that holds it.
  const std::int64_t rest = clusters - (covered - order[taken - 1].second);
  std::size_t last = taken - 1;
  for (std::size_t i = taken; i < order.size(); ++i) {
    if (order[i].second >= rest && order[i].second <= order[last].second) last = i;
  }
  for (std::size_t i = 0; i + 1 < taken; ++i) chosen.push_back({order[i].first, order[i].second});
  chosen.push_back({order[last].first, rest});
  std::sort(chosen.begin(), chosen.end(), [](const auto& a, const auto& b) { return a.lcn < b.lcn; });
  return chosen;
}

std::int32_t CheckFiles(const std::string& path, const FileVisitor& visit) {
  PerFileJob job;
  if (!job.Claimed()) return VEXA_FILE_BUSY;
  if (VolumeOfPath(path) == nullptr) return VEXA_FILE_NO_VOLUME;
  Resolved target;
  if (!Resolve(path, &target)) return VEXA_FILE_NOT_FOUND;
  auto one = [&](const std::string& file, const platform::WIN32_FIND_DATAA& data) {
    VexaFilePieces figures{};
    if (FileFigures(file, data, &figures)) visit(file, figures);
  };
  if (!target.folder) {
    one(target.path, target.data);
    return VEXA_FILE_DONE;
  }
  return WalkFolder(target.path, one) ? VEXA_FILE_DONE : VEXA_FILE_STOPPED;
}

std::int32_t MakeContiguous(const std::string& path, bool makeRoom, const MovedVisitor& moved,
                            VexaFileResult* result) {
  *result = VexaFileResult{};
  result->firstCluster = -1;
  PerFileJob job;
  if (!job.Claimed()) return Outcome(result, VEXA_FILE_BUSY);
  VolumeRecord* v = VolumeOfPath(path);
  if (v == nullptr) return Outcome(result, VEXA_FILE_NO_VOLUME);
  const std::int32_t outcome = MakeContiguousOn(*v, path, makeRoom, moved, result);
  // The moves end here, as a job's work on a volume does: the FAT provider makes them
  // durable and marks the volume clean.
  const std::uint32_t flushed = gMachine->FlushFileBuffers(v->volume);
  if (flushed != platform::kErrorSuccess && (outcome == VEXA_FILE_DONE || result->movedFiles > 0)) {
    result->error = flushed;
    return Outcome(result, VEXA_FILE_FAILED);
  }
  return outcome;
}

namespace {

std::int32_t MakeContiguousOn(VolumeRecord& volume, const std::string& path, bool makeRoom,
                              const MovedVisitor& moved, VexaFileResult* result) {
  VolumeRecord* v = &volume;
  Resolved target;
  if (!Resolve(path, &target)) return Outcome(result, VEXA_FILE_NOT_FOUND);
  if (target.folder) return Outcome(result, VEXA_FILE_IS_FOLDER);

  FileHandle file(gMachine->OpenFileForQuery(target.path.c_str()));
  if (file.Get() == platform::kInvalidHandle || !ReadFileExtents(file.Get())) {
    return Outcome(result, VEXA_FILE_NOT_FOUND);
  }
  VexaFilePieces figures{};
  ExtentFigures(&figures);
  result->piecesBefore = figures.pieces;
  result->pieces = figures.pieces;
  result->clusters = figures.clusters;
  result->firstCluster = figures.firstCluster;
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  // The free-space figures are the volume's in every outcome, this one included.
  if (figures.pieces <= 1) {
    if (ReadFreeRuns(*v, &runs)) RunFigures(runs, result);
    return Outcome(result, VEXA_FILE_ALREADY_CONTIGUOUS);
  }
  const auto clusters = static_cast<std::int64_t>(figures.clusters);
  if (!ReadFreeRuns(*v, &runs)) return Outcome(result, VEXA_FILE_FAILED);
  RunFigures(runs, result);
  // A file the file system can never move (an exFAT entry set across two sectors): said
  // before anything moves, room making included.
  if (gMachine->UnmovableReason(file.Get()) != nullptr) return Outcome(result, VEXA_FILE_SPLIT_ENTRY);
  if (result->largestFreeRun < figures.clusters) {
    if (!makeRoom || result->freeClusters < figures.clusters) return Outcome(result, VEXA_FILE_NO_RUN);
    const std::int32_t room = MakeRoom(*v, target.path, clusters, moved, result);
    if (room != VEXA_FILE_DONE) return Outcome(result, room);
    if (!ReadFreeRuns(*v, &runs)) return Outcome(result, VEXA_FILE_FAILED);
    // The moves changed nothing of this file, but read its extents afresh: gExtentBuffer
    // served the walk meanwhile.
    if (!ReadFileExtents(file.Get())) return Outcome(result, VEXA_FILE_FAILED);
  }
  FreeRunMap byLength;
  for (const auto& [first, length] : runs) byLength.emplace(length, first);
  const auto chosen = byLength.lower_bound(clusters);
  if (chosen == byLength.end()) return Outcome(result, VEXA_FILE_NO_RUN);
  const std::int32_t moved_ = MoveExtentsTo(*v, file.Get(), chosen->second, &result->error);
  if (ReadFileExtents(file.Get())) {
    ExtentFigures(&figures);
    result->pieces = figures.pieces;
    result->firstCluster = figures.firstCluster;
  }
  return Outcome(result, moved_);
}

}  // namespace

std::int32_t PutFile(const std::string& path, std::uint64_t size, std::int64_t lastWriteTime,
                     std::uint32_t maxPieces, bool replace, const ContentReader& read, VexaFileResult* result) {
  *result = VexaFileResult{};
  result->firstCluster = -1;
  PerFileJob job;
  if (!job.Claimed()) return Outcome(result, VEXA_FILE_BUSY);
  VolumeRecord* v = VolumeOfPath(path);
  if (v == nullptr || v->bytesPerCluster == 0) return Outcome(result, VEXA_FILE_NO_VOLUME);
  // A FAT file holds less than 4 GiB; exFAT (and NTFS) files may be larger.
  if (size > 0xFFFFFFFFull && v->fileSystem.rfind("FAT", 0) == 0) return Outcome(result, VEXA_FILE_TOO_LARGE);
  Resolved existing;
  if (Resolve(path, &existing)) {
    if (existing.folder) return Outcome(result, VEXA_FILE_IS_FOLDER);
    if (!replace) return Outcome(result, VEXA_FILE_EXISTS);
  }

  const std::uint64_t clusters = (size + v->bytesPerCluster - 1) / v->bytesPerCluster;
  result->clusters = clusters;
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  if (!ReadFreeRuns(*v, &runs)) return Outcome(result, VEXA_FILE_FAILED);
  RunFigures(runs, result);
  platform::NewFileData data;
  data.size = size;
  data.lastWriteTime = lastWriteTime;
  data.replace = replace;
  data.read = [&read](std::uint64_t offset, void* bytes, std::size_t count) {
    return read(offset, bytes, static_cast<std::uint32_t>(count));
  };
  if (clusters > 0) {
    data.runs = ChooseNewFileRuns(runs, static_cast<std::int64_t>(clusters), std::max<std::uint32_t>(maxPieces, 1),
                                  &result->runsNeeded);
    if (data.runs.empty()) return Outcome(result, VEXA_FILE_NO_RUN);
  }
  if (StopRequested()) return Outcome(result, VEXA_FILE_STOPPED);

  const std::uint32_t rc = gMachine->CreateFileInRuns(path.c_str(), data);
  switch (rc) {
    case platform::kErrorSuccess:
      break;
    case platform::kErrorFileExists:
      return Outcome(result, VEXA_FILE_EXISTS);
    case platform::kErrorPathNotFound:
      return Outcome(result, VEXA_FILE_NOT_FOUND);
    case platform::kErrorInvalidName:
      return Outcome(result, VEXA_FILE_BAD_NAME);
    case platform::kErrorNotSupported:
      return Outcome(result, VEXA_FILE_NOT_SUPPORTED);
    case platform::kErrorReadFault:
      return Outcome(result, VEXA_FILE_SOURCE_FAILED);
    case platform::kErrorFileTooLarge:
      return Outcome(result, VEXA_FILE_TOO_LARGE);
    case platform::kErrorCannotMake:
      return Outcome(result, VEXA_FILE_FOLDER_FULL);
    case platform::kErrorFileSystemLimitation:
      return Outcome(result, VEXA_FILE_SPLIT_ENTRY);
    default:
      result->error = rc;
      return Outcome(result, VEXA_FILE_FAILED);
  }
  result->pieces = static_cast<std::uint32_t>(data.runs.size());
  result->firstCluster = data.runs.empty() ? -1 : data.runs.front().lcn;
  return Outcome(result, VEXA_FILE_DONE);
}

}  // namespace vexa
