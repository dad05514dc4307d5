// Load and unload hooks of the engine library: start-up when the library is loaded
// into a process, shut-down when it is unloaded.
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/free_space_rule.h"
#include "platform/engine_machine.h"
#include "platform/module.h"

#ifdef _WIN32
#include "platform/win_library.h"
#endif

namespace {

std::unique_ptr<platform::Machine> gLoadedMachine;

void LibraryLoaded() {
  try {
    const std::string folder = platform::EngineModuleFolder();
    // Drive letters of the volume map are served from their images or devices.
    std::vector<platform::MappedVolume> mapped;
    gLoadedMachine = platform::CreateEngineMachine(folder, &mapped);
    vexa::Startup(*gLoadedMachine, folder);
    std::string letters;
    for (const platform::MappedVolume& volume : mapped) letters += volume.letter;
    vexa::SetMappedLetters(letters);
  } catch (...) {
    gLoadedMachine.reset();
  }
}

void LibraryUnloaded() {
  try {
    vexa::Shutdown();
  } catch (...) {
  }
  gLoadedMachine.reset();
}

}  // namespace

#ifdef _WIN32
// The application object of the engine library: its initialisation and exit hooks
// run the engine's start-up and shut-down.
class CADApp {
 public:
  static void InitInstance() { LibraryLoaded(); }
  static void ExitInstance() { LibraryUnloaded(); }
};

VEXA_DEFINE_DLL_MAIN(CADApp::InitInstance, CADApp::ExitInstance)
#else
namespace {

// Constructed when the library is loaded, after the engine's own globals (the hooks
// are linked last; see engine/CMakeLists.txt), and so destroyed before them when it
// is unloaded or the process ends: the engine starts on constructed state and shuts
// down before any of it is torn down.
struct LoadHooks {
  LoadHooks() { LibraryLoaded(); }
  ~LoadHooks() { LibraryUnloaded(); }
  LoadHooks(const LoadHooks&) = delete;
  LoadHooks& operator=(const LoadHooks&) = delete;
};
LoadHooks gLoadHooks;

}  // namespace
#endif
