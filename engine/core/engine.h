// Engine-global state that every subsystem reaches: the machine the engine works on,
// its working folder and the shared volume-access buffers; engine start-up and
// shut-down.
#pragma once

#include <string>

#include "analysis/volume_access.h"
#include "platform/job_lock.h"
#include "platform/machine.h"

namespace vexa {

// The machine the engine works on; set by start-up, never null between start-up and
// shut-down. Not owned.
extern platform::Machine* gMachine;
// Folder of the engine library, ending with the path separator (or empty).
extern std::string gWorkingFolder;
// The bitmap buffer and retrieval buffer shared by the running pass (one at a time).
extern BitmapBuffer gBitmapBuffer;
extern ExtentBuffer gExtentBuffer;
// The machine-wide job lock every job holds for its whole life; set by start-up, never
// null between start-up and shut-down. Not owned by its users.
extern platform::JobLock* gJobLock;
// The longest a job export waits between looks at the worker slots, in ms (1000; tests
// shorten it). The export is woken at once when its job ends; this only bounds a wait.
extern int gJobWaitMs;

// Defragmentation age (0, 1 or 2) of the engine's current volume (the one a pass
// works on, or the one the front end made current). Any thread.
std::int32_t CurrentDefragmentationAge();
// Defragmentation age of slot s as last worked out (0 before any); the colour rule of
// that slot's map uses it. Any thread.
std::int32_t DefragmentationAgeOfSlot(int s);
// Works slot s's age out anew from "defragdate", "defragvol" and the serial number of
// the volume now in the slot, and, when those call it recent, "defragprint" and the
// fingerprint of the volume's bitmap now (any change since the job ended makes it 2);
// makes it the current age. Returns it. Reads the volume's bitmap into a buffer of its
// own, so the front end may call it while a job runs.
std::int32_t RefreshDefragmentationAge(int s);
// Records that slot s's volume was defragmented now (date and identity; the
// fingerprint is cleared); on success its age, and the current age, become 1. The
// defragmentation worker only.
[[nodiscard]] bool RecordDefragmentation(int s);
// Records the fingerprint of slot s's allocation as it is now: the defragmentation
// worker, once the volume's moves are durable. False when the bitmap cannot be read
// or the file written (the volume then counts as changed).
[[nodiscard]] bool RecordAllocation(int s);

// Makes the volume of `letter` the engine's current one: current slot, and for an
// open volume its defragmentation age, bytes per cluster and walk slot.
void MakeVolumeCurrent(char letter);

// Working-folder path of a plain file name.
std::string WorkingFile(const char* name);

// Starts the engine on `machine` (not owned; it must outlive Shutdown) with the
// given working folder: settings, exclusion lists, the volume table. `jobLock` (not
// owned; it must outlive Shutdown) is the machine-wide job lock; null takes the real
// one of the working folder. The library does this when it is loaded; tests call it
// directly, once per Shutdown. A failure (an exception from the machine or memory)
// leaves the engine as if never started, with no volume open, and is passed on.
void Startup(platform::Machine& machine, const std::string& workingFolder, platform::JobLock* jobLock = nullptr);
// Saves and releases everything Startup set up. No job may be running.
void Shutdown();

// Saves what Shutdown saves ("diskdata", and "Setting" when a switch changed) and keeps
// the engine running: for a program that is about to end the session, which ends it
// before the engine is unloaded. Returns whether both files are as they should be.
// When no job runs.
bool SaveState();

}  // namespace vexa
