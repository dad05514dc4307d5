// Files left in pieces: the engine's list, the check after a stop, and their texts.
#include "left_fragmented.h"

#include <set>

#include "json_text.h"
#include "per_file_command.h"

namespace cli {
namespace {

struct Collected {
  std::vector<LeftFile>* files;
  std::set<std::string>* known;  // paths as the volume stores them
};

void EngineVisit(const char* path, const VexaLeftFile* file, void* context) {
  auto* c = static_cast<Collected*>(context);
  c->known->insert(path);
  c->files->push_back({FromVolumeText(path), *file});
}

void CheckVisit(const char* path, const VexaFilePieces* file, void* context) {
  auto* c = static_cast<Collected*>(context);
  if (file->pieces <= 1 || c->known->count(path) != 0) return;
  VexaLeftFile left{};
  left.reason = VEXA_LEFT_STOPPED;
  left.pieces = file->pieces;
  left.clusters = file->clusters;
  c->files->push_back({FromVolumeText(path), left});
}

}  // namespace

std::vector<LeftFile> CollectLeftFiles(const EngineApi& api, char letter, bool stopped) {
  std::vector<LeftFile> files;
  std::set<std::string> known;
  Collected collected{&files, &known};
  api.listLeftFragmented(letter, &EngineVisit, &collected);
  if (stopped) {
    const std::string root = std::string(1, letter) + ":\\";
    (void)api.checkFiles(root.c_str(), &CheckVisit, &collected);
  }
  return files;
}

const char* LeftReasonName(std::int32_t reason) {
  switch (reason) {
    case VEXA_LEFT_NO_RUN: return "noFreeRun";
    case VEXA_LEFT_EXCLUDED: return "excluded";
    case VEXA_LEFT_SYSTEM: return "systemFile";
    case VEXA_LEFT_READ_ONLY: return "readOnlyVolume";
    case VEXA_LEFT_STOPPED: return "stopped";
    case VEXA_LEFT_CHANGED: return "changed";
    case VEXA_LEFT_ENTRY_SPANS_SECTORS: return "entrySpansSectors";
    case VEXA_LEFT_ENCRYPTED: return "encrypted";
    default: return "moveFailed";
  }
}

std::string LeftReasonText(const VexaLeftFile& file) {
  switch (file.reason) {
    case VEXA_LEFT_NO_RUN:
      return "no free run is large enough: it needs " + GroupedNumber(file.clusters) +
             " contiguous clusters; the largest free run has " + GroupedNumber(file.largestFreeRun);
    case VEXA_LEFT_EXCLUDED: return "excluded by the Options lists";
    case VEXA_LEFT_SYSTEM: return "a system file the volume would not move";
    case VEXA_LEFT_READ_ONLY: return "the volume is read-only";
    case VEXA_LEFT_STOPPED: return "the job was stopped";
    case VEXA_LEFT_CHANGED: return "it changed while it was moved, so it was passed over";
    case VEXA_LEFT_ENTRY_SPANS_SECTORS: return "its directory entry spans two sectors";
    case VEXA_LEFT_ENCRYPTED: return "it is encrypted and this account may not read its data";
    default: return "the volume refused a move (Windows error " + std::to_string(file.error) + ")";
  }
}

std::string LeftFileLine(const LeftFile& file) {
  return "  " + file.path + ": " + std::to_string(file.figures.pieces) + " pieces; " + LeftReasonText(file.figures);
}

std::string LeftFileJson(const LeftFile& file) {
  const VexaLeftFile& f = file.figures;
  std::string out = "{\"path\":" + JsonString(file.path) + ",\"pieces\":" + std::to_string(f.pieces) +
                    ",\"clusters\":" + std::to_string(f.clusters) + ",\"reason\":" + JsonString(LeftReasonName(f.reason));
  out += ",\"largestFreeRun\":" + (f.reason == VEXA_LEFT_NO_RUN ? std::to_string(f.largestFreeRun) : std::string("null"));
  if (f.reason == VEXA_LEFT_MOVE_FAILED) out += ",\"error\":" + std::to_string(f.error);
  return out + ",\"text\":" + JsonString(LeftReasonText(f)) + "}";
}

}  // namespace cli
