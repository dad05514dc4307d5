// The engine's exports as the command-line program reaches them: the library loaded at
// run time from the program's folder and its DLL_* functions resolved by name.
#pragma once

#include <string>

#include "platform/library.h"
#include "vexa/vexa.h"

namespace cli {

// The exports the program calls, as function pointers into the loaded library.
struct EngineApi {
  int32_t(VEXA_CALL* analyseVolume)(const char* letters) = nullptr;
  int32_t(VEXA_CALL* defragVolume)(const char* letters) = nullptr;
  int32_t(VEXA_CALL* optimizedDefragVolume)(const char* letters) = nullptr;
  void(VEXA_CALL* workingStop)() = nullptr;
  const VexaWorkingStatus*(VEXA_CALL* getWorkingStatus)() = nullptr;
  const VexaVolumeInfo*(VEXA_CALL* getVolumeInfo)(char letter) = nullptr;
  const int32_t*(VEXA_CALL* getVolumeColorTable)(char letter) = nullptr;
  void(VEXA_CALL* showReport)(int32_t kind) = nullptr;
  void(VEXA_CALL* setMessageHandler)(void (*handler)(const char* text)) = nullptr;
  int32_t(VEXA_CALL* getAutoRun)() = nullptr;
  int32_t(VEXA_CALL* getLogout)() = nullptr;
  int32_t(VEXA_CALL* getRestart)() = nullptr;
  const char*(VEXA_CALL* getExclusionText)(int32_t which) = nullptr;
  int32_t(VEXA_CALL* setOptions)(const char* folders, const char* files, const char* types, int32_t turnOff,
                                 int32_t restart) = nullptr;
  int32_t(VEXA_CALL* addSchedule)(const char* letters) = nullptr;
  int32_t(VEXA_CALL* removeSchedule)() = nullptr;
  int32_t(VEXA_CALL* readSchedule)(const char** description) = nullptr;
  void(VEXA_CALL* setMappedMinimumFree)(uint64_t bytes) = nullptr;
  // The per-file entries (check, contig, put).
  int32_t(VEXA_CALL* checkFiles)(const char* path, void (*visit)(const char*, const VexaFilePieces*, void*),
                                 void* context) = nullptr;
  int32_t(VEXA_CALL* makeContiguous)(const char* path, int32_t makeRoom,
                                     void (*moved)(const char*, const VexaMovedFile*, void*), void* context,
                                     VexaFileResult* result) = nullptr;
  int32_t(VEXA_CALL* putFile)(const char* path, uint64_t size, int64_t lastWriteTime, uint32_t maxPieces,
                              int32_t replace, int32_t (*read)(uint64_t, void*, uint32_t, void*), void* context,
                              VexaFileResult* result) = nullptr;
  int32_t(VEXA_CALL* listLeftFragmented)(char letter, void (*visit)(const char*, const VexaLeftFile*, void*),
                                         void* context) = nullptr;
};

// The engine library of one run. Loading it runs the engine's start-up (volume map,
// volume table, settings); unloading it runs the shut-down (saved maps and switches).
class EngineLibrary {
 public:
  EngineLibrary() = default;
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  // Loads platform::kEngineLibraryName from `folder` (ending with its separator) and
  // resolves every export of EngineApi. False, with *error set, when the library cannot
  // be loaded or lacks an export (it is unloaded again then). Main thread.
  [[nodiscard]] bool Load(const std::string& folder, std::string* error);
  // Unloads the library; no job may be running. Main thread.
  void Unload();

  bool Loaded() const { return library_ != nullptr; }
  const EngineApi& Api() const { return api_; }

 private:
  platform::LibraryHandle library_ = nullptr;
  EngineApi api_;
};

}  // namespace cli
