// Loading the engine library and resolving its exports by name.
#include "engine_api.h"

namespace cli {
namespace {

template <typename Function>
bool Resolve(platform::LibraryHandle library, const char* name, Function* out, std::string* missing) {
  *out = reinterpret_cast<Function>(platform::LibrarySymbol(library, name));
  if (*out == nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += name;
  }
  return *out != nullptr;
}

}  // namespace

EngineLibrary::~EngineLibrary() { Unload(); }

bool EngineLibrary::Load(const std::string& folder, std::string* error) {
  Unload();
  const std::string path = folder + platform::kEngineLibraryName;
  std::string why;
  library_ = platform::LoadSharedLibrary(path, &why);
  if (library_ == nullptr) {
    *error = "cannot load the engine library " + path + ": " + why;
    return false;
  }
  std::string missing;
  Resolve(library_, "DLL_AnalyseVolume", &api_.analyseVolume, &missing);
  Resolve(library_, "DLL_DefragVolume", &api_.defragVolume, &missing);
  Resolve(library_, "DLL_OptimizedDefragVolume", &api_.optimizedDefragVolume, &missing);
  Resolve(library_, "DLL_WorkingStop", &api_.workingStop, &missing);
  Resolve(library_, "DLL_GetWorkingStatus", &api_.getWorkingStatus, &missing);
  Resolve(library_, "DLL_GetVolumeInfo", &api_.getVolumeInfo, &missing);
  Resolve(library_, "DLL_GetVolumeColorTable", &api_.getVolumeColorTable, &missing);
  Resolve(library_, "DLL_ShowReport", &api_.showReport, &missing);
  Resolve(library_, "VexaSetMessageHandler", &api_.setMessageHandler, &missing);
  Resolve(library_, "DLL_GetAutoRun", &api_.getAutoRun, &missing);
  Resolve(library_, "DLL_GetLogout", &api_.getLogout, &missing);
  Resolve(library_, "DLL_GetRestart", &api_.getRestart, &missing);
  Resolve(library_, "VexaGetExclusionText", &api_.getExclusionText, &missing);
  Resolve(library_, "VexaSetOptions", &api_.setOptions, &missing);
  Resolve(library_, "VexaAddSchedule", &api_.addSchedule, &missing);
  Resolve(library_, "VexaRemoveSchedule", &api_.removeSchedule, &missing);
  Resolve(library_, "VexaReadSchedule", &api_.readSchedule, &missing);
  Resolve(library_, "VexaSetMappedMinimumFree", &api_.setMappedMinimumFree, &missing);
  Resolve(library_, "VexaCheckFiles", &api_.checkFiles, &missing);
  Resolve(library_, "VexaMakeContiguous", &api_.makeContiguous, &missing);
  Resolve(library_, "VexaPutFile", &api_.putFile, &missing);
  Resolve(library_, "VexaListLeftFragmented", &api_.listLeftFragmented, &missing);
  if (!missing.empty()) {
    *error = "the engine library " + path + " lacks " + missing;
    Unload();
    return false;
  }
  return true;
}

void EngineLibrary::Unload() {
  if (library_ == nullptr) return;
  if (api_.setMessageHandler != nullptr) api_.setMessageHandler(nullptr);
  platform::UnloadSharedLibrary(library_);
  library_ = nullptr;
  api_ = EngineApi{};
}

}  // namespace cli
