// The idle seam's portable variants: the file a test harness steers, and the fake.
#include "platform/idle.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

class FileIdleSource : public IdleSource {
 public:
  explicit FileIdleSource(std::string path) : path_(std::move(path)) {}

  bool Read(IdleReading* reading) override {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    return ParseIdleFile(text.str(), now, reading);
  }

 private:
  std::string path_;
};

}  // namespace

bool ParseIdleFile(const std::string& text, double nowSeconds, IdleReading* reading) {
  bool haveInput = false;
  IdleReading result;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("input=", 0) == 0) {
      const char* start = line.c_str() + 6;
      char* end = nullptr;
      const double when = std::strtod(start, &end);
      if (end == start || *end != '\0' || !std::isfinite(when)) return false;
      // Input "in the future" (clocks of two processes a hair apart) is input now.
      const double idle = nowSeconds > when ? nowSeconds - when : 0.0;
      result.idleMilliseconds = static_cast<std::int64_t>(idle * 1000.0);
      haveInput = true;
    } else if (line == "power=battery") {
      result.onAcPower = false;
    } else if (line == "power=ac") {
      result.onAcPower = true;
    }
  }
  if (haveInput) *reading = result;
  return haveInput;
}

std::unique_ptr<IdleSource> MakeFileIdleSource(const std::string& path) {
  return std::make_unique<FileIdleSource>(path);
}

bool FakeIdleSource::Read(IdleReading* reading) {
  ++reads_;
  if (known_) *reading = reading_;
  return known_;
}

}  // namespace platform
