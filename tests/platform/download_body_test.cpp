// Saving an HTTP body: the size limit, a server that trickles until the caller gives up,
// a failed read, and a whole body within the limit.
#include "platform/download_body.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace platform {
namespace {

// A body served `chunk` bytes per read; a read fails after `failAfter` reads when set.
struct Server {
  std::string body;
  std::size_t chunk = 8192;
  int failAfter = -1;
  int reads = 0;
  std::size_t sent = 0;
  BodyReader Reader() {
    return [this](char* buffer, std::size_t capacity) -> long {
      if (failAfter >= 0 && reads >= failAfter) return -1;
      ++reads;
      const std::size_t n = std::min({capacity, chunk, body.size() - sent});
      std::memcpy(buffer, body.data() + sent, n);
      sent += n;
      return static_cast<long>(n);
    };
  }
};

class DownloadBodyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("download_body_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    file_ = (folder_ / "Update.ini.download").string();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Read() {
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::filesystem::path folder_;
  std::string file_;
};

const auto kNever = [] { return false; };

TEST_F(DownloadBodyTest, ABodyUpToTheLimitIsSavedWhole) {
  Server server;
  server.body = std::string(64 * 1024, 'v');
  server.chunk = 1000;
  ASSERT_TRUE(ReceiveBody(server.Reader(), file_, 64 * 1024, kNever));
  EXPECT_EQ(Read(), server.body);
}

TEST_F(DownloadBodyTest, ABodyPastTheLimitFailsAndLeavesNoFile) {
  for (std::size_t size : {64 * 1024 + 1, 10 * 1024 * 1024}) {
    Server server;
    server.body = std::string(size, 'x');
    EXPECT_FALSE(ReceiveBody(server.Reader(), file_, 64 * 1024, kNever)) << size;
    EXPECT_FALSE(std::filesystem::exists(file_)) << size;
    EXPECT_LE(server.sent, 64u * 1024 + 1) << "reading stops at the first byte past the limit";
  }
}

TEST_F(DownloadBodyTest, ATricklingServerIsCutOffWhenTheCallerGivesUp) {
  Server server;
  server.body = "[Version]\r\nVer=99\r\n";
  server.chunk = 1;
  int asked = 0;
  // The caller's deadline passes after five bytes.
  EXPECT_FALSE(ReceiveBody(server.Reader(), file_, 64 * 1024, [&] { return ++asked > 5; }));
  EXPECT_FALSE(std::filesystem::exists(file_));
  EXPECT_EQ(server.reads, 6) << "no read after the deadline";
}

TEST_F(DownloadBodyTest, AFailedReadOrAnUnwritableFileFails) {
  Server broken;
  broken.body = std::string(20000, 'y');
  broken.failAfter = 1;
  EXPECT_FALSE(ReceiveBody(broken.Reader(), file_, 64 * 1024, kNever));
  EXPECT_FALSE(std::filesystem::exists(file_));

  Server fine;
  fine.body = "x";
  EXPECT_FALSE(ReceiveBody(fine.Reader(), (folder_ / "missing" / "f").string(), 64 * 1024, kNever));
}

}  // namespace
}  // namespace platform
