// Engine-global state that every subsystem reaches: the machine the engine works on,
// its working folder and the shared volume-access buffers; engine start-up and
// shut-down.
#pragma once

#include <string>

#include "analysis/volume_access.h"
#include "platform/machine.h"
#include "report/report.h"

namespace vexa {

// The machine the engine works on; set by start-up, never null between start-up and
// shut-down. Not owned.
extern platform::Machine* gMachine;
// Folder of the engine library, ending with the path separator (or empty).
extern std::string gWorkingFolder;
// The bitmap buffer and retrieval buffer shared by the running pass (one at a time).
extern BitmapBuffer gBitmapBuffer;
extern ExtentBuffer gExtentBuffer;
// The report of the running worker (one worker at a time).
extern report::Report gReport;
// The longest a job export waits between looks at the worker slots, in ms (1000; tests
// shorten it). The export is woken at once when its job ends; this only bounds a wait.
extern int gJobWaitMs;

// Defragmentation age (0, 1 or 2) of the engine's current volume; read by the
// colour rule from any thread.
std::int32_t CurrentDefragmentationAge();
void SetCurrentDefragmentationAge(std::int32_t age);

// Makes the volume of `letter` the engine's current one: current slot, and for an
// open volume its defragmentation age, bytes per cluster and walk slot.
void MakeVolumeCurrent(char letter);

// Working-folder path of a plain file name.
std::string WorkingFile(const char* name);

// Starts the engine on `machine` (not owned; it must outlive Shutdown) with the
// given working folder: settings, exclusion lists, the volume table. The library
// does this when it is loaded; tests call it directly, once per Shutdown.
void Startup(platform::Machine& machine, const std::string& workingFolder);
// Saves and releases everything Startup set up. No job may be running.
void Shutdown();

}  // namespace vexa
