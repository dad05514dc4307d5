// The per-file entries of the command-line program: check, contig and put, and the
// list of files a defragmentation left in pieces.
//
// Each catches everything: no exception crosses the library boundary.
#include "core/engine.h"
#include "defrag/left_fragmented.h"
#include "defrag/per_file.h"
#include "vexa/vexa.h"

using namespace vexa;

extern "C" {

int32_t VEXA_CALL VexaCheckFiles(const char* path,
                                 void (*visit)(const char* path, const VexaFilePieces* file, void* context),
                                 void* context) {
  try {
    if (gMachine == nullptr || path == nullptr || visit == nullptr) return VEXA_FILE_NO_VOLUME;
    return CheckFiles(path, [&](const std::string& file, const VexaFilePieces& figures) {
      visit(file.c_str(), &figures, context);
    });
  } catch (...) {
    return VEXA_FILE_FAILED;
  }
}

int32_t VEXA_CALL VexaMakeContiguous(const char* path, int32_t makeRoom,
                                     void (*moved)(const char* path, const VexaMovedFile* move, void* context),
                                     void* context, VexaFileResult* result) {
  VexaFileResult scratch{};
  VexaFileResult* out = result != nullptr ? result : &scratch;
  try {
    if (gMachine == nullptr || path == nullptr) {
      *out = VexaFileResult{};
      return out->outcome = VEXA_FILE_NO_VOLUME;
    }
    MovedVisitor visitor;
    if (moved != nullptr) {
      visitor = [&](const std::string& file, const VexaMovedFile& move) { moved(file.c_str(), &move, context); };
    }
    return MakeContiguous(path, makeRoom != 0, visitor, out);
  } catch (...) {
    return out->outcome = VEXA_FILE_FAILED;
  }
}

int32_t VEXA_CALL VexaPutFile(const char* path, uint64_t size, int64_t lastWriteTime, uint32_t maxPieces,
                              int32_t replace,
                              int32_t (*read)(uint64_t offset, void* data, uint32_t size, void* context),
                              void* context, VexaFileResult* result) {
  VexaFileResult scratch{};
  VexaFileResult* out = result != nullptr ? result : &scratch;
  try {
    if (gMachine == nullptr || path == nullptr || read == nullptr) {
      *out = VexaFileResult{};
      return out->outcome = VEXA_FILE_NO_VOLUME;
    }
    return PutFile(path, size, lastWriteTime, maxPieces, replace != 0,
                   [&](std::uint64_t offset, void* data, std::uint32_t count) {
                     return read(offset, data, count, context) != 0;
                   },
                   out);
  } catch (...) {
    return out->outcome = VEXA_FILE_FAILED;
  }
}

}  // extern "C"

extern "C" int32_t VEXA_CALL VexaListLeftFragmented(char letter,
                                                    void (*visit)(const char* path, const VexaLeftFile* file,
                                                                  void* context),
                                                    void* context) {
  try {
    const std::vector<LeftFragmentedFile> files = LeftFragmentedOf(letter);
    if (visit != nullptr) {
      for (const LeftFragmentedFile& file : files) visit(file.path.c_str(), &file.figures, context);
    }
    return static_cast<int32_t>(files.size());
  } catch (...) {
    return 0;
  }
}
