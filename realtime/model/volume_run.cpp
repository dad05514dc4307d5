// The job thread's run over the engine's exports.
#include "volume_run.h"

#include <cstdlib>
#include <mutex>
#include <utility>

#include "report_pages.h"

namespace realtime {
namespace {

// The engine's message handler is a plain function, so what it catches waits here.
std::mutex gMessageMutex;
std::string gMessage;

void CatchMessage(const char* text) {
  std::lock_guard lock(gMessageMutex);
  if (gMessage.empty() && text != nullptr) gMessage = text;
}

std::string TakeMessage() {
  std::lock_guard lock(gMessageMutex);
  return std::exchange(gMessage, std::string());
}

}  // namespace

std::string SolidStatePassedOverText(char letter) {
  return std::string(1, letter) + ": is a solid-state drive: defragmenting it adds wear and does not make it faster, so it "
                                  "was passed over";
}

std::string FixedVolumes(const cli::EngineApi& api) {
  std::string letters;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (api.getVolumeInfo(letter) != nullptr) letters += letter;
  }
  return letters;
}

void DefragDueVolumes(const cli::EngineApi& api, const std::string& workingFolder, const std::string& letters,
                      const std::function<bool(char)>& due, const std::atomic<bool>& stop,
                      const RunEvents& events) {
  const std::string page = workingFolder + "defragreport1.html";
  api.setMessageHandler(&CatchMessage);
  for (const char letter : letters) {
    if (stop.load()) break;
    if (!due(letter)) continue;
    if (const VexaVolumeInfo* info = api.getVolumeInfo(letter); info != nullptr && info->solidState != 0) {
      VolumeResult result;
      result.letter = letter;
      result.message = SolidStatePassedOverText(letter);
      result.solidState = true;
      events.volumeFinished(result);
      continue;
    }
    events.volumeStarted(letter);
    TakeMessage();
    const cli::PageStamp before = cli::PageWriteTime(page);
    const char job[2] = {letter, '\0'};
    api.defragVolume(job);

    VolumeResult result;
    result.letter = letter;
    result.stopped = stop.load();
    result.message = TakeMessage();
    cli::VolumePage figures;
    // A job the engine refused (another process's job holds the machine) writes no page.
    result.ran = cli::ReadVolumePageIfWritten(page, before, &figures);
    const std::string defragged = figures.Figure("Defragged files");
    if (result.ran && !defragged.empty()) result.filesDefragmented = std::atoll(defragged.c_str());
    events.volumeFinished(result);
  }
  api.setMessageHandler(nullptr);
}

}  // namespace realtime
