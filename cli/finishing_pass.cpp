// The finishing pass after an in-depth defragmentation.
#include "finishing_pass.h"

#include "per_file_command.h"
#include "platform/win_types.h"
#include "stop_request.h"

namespace cli {

int JoinAfterPacking(const EngineApi& api, std::vector<LeftFile>* left) {
  int joined = 0;
  for (auto file = left->begin(); file != left->end();) {
    if (file->figures.reason != VEXA_LEFT_NO_RUN) {
      ++file;
      continue;
    }
    if (StopRequestCount() > 0) break;
    VexaFileResult r{};
    const std::int32_t outcome = api.makeContiguous(file->path.c_str(), 0, nullptr, nullptr, &r);
    if (outcome == VEXA_FILE_DONE && r.pieces <= 1) {
      ++joined;
      file = left->erase(file);
      continue;
    }
    if (outcome == VEXA_FILE_ALREADY_CONTIGUOUS) {  // joined meanwhile, by the packing itself
      file = left->erase(file);
      continue;
    }
    // Still in pieces: the reason stands when there is still no run; the figures are now's.
    if (outcome == VEXA_FILE_NO_RUN) {
      file->figures.pieces = r.pieces;
      file->figures.clusters = r.clusters;
      file->figures.largestFreeRun = r.largestFreeRun;
    } else if (outcome == VEXA_FILE_SPLIT_ENTRY) {
      file->figures.reason = VEXA_LEFT_ENTRY_SPANS_SECTORS;
    } else if (outcome == VEXA_FILE_STOPPED) {
      file->figures.reason = VEXA_LEFT_STOPPED;
    } else if (outcome == VEXA_FILE_DONE || outcome == VEXA_FILE_FAILED) {
      if (r.pieces > 0) file->figures.pieces = r.pieces;
      if (outcome == VEXA_FILE_FAILED) {
        file->figures.reason = r.error == platform::kErrorWriteProtect ? VEXA_LEFT_READ_ONLY : VEXA_LEFT_MOVE_FAILED;
        file->figures.error = r.error;
      }
    }
    ++file;
  }
  return joined;
}

}  // namespace cli
