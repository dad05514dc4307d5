// The claim record of a volume's write job.
#include "platform/claim_journal.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

namespace platform {
namespace {

constexpr char kFirstLine[] = "vexa claims 1";

std::uint64_t Fnv(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool WriteAllTo(int fd, const std::string& text) {
#ifndef _WIN32
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, left);
    if (n <= 0) return false;
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
#else
  return _write(fd, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(text.size());
#endif
}

bool SyncFile(int fd) {
#ifndef _WIN32
  return ::fsync(fd) == 0;
#else
  return _commit(fd) == 0;
#endif
}

// Makes a new or removed name in `folder` durable.
bool SyncFolder(const std::string& folder) {
#ifndef _WIN32
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
#else
  (void)folder;
  return true;
#endif
}

void CloseFd(int* fd) {
  if (*fd < 0) return;
#ifndef _WIN32
  ::close(*fd);
#else
  _close(*fd);
#endif
  *fd = -1;
}

}  // namespace

ClaimJournal::ClaimJournal(std::string folder, std::string identity)
    : folder_(std::move(folder)), identity_(std::move(identity)) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Fnv(identity_)));
  path_ = folder_ + "claims-" + hex;
}

ClaimJournal::~ClaimJournal() { CloseFd(&fd_); }

bool ClaimJournal::Exists() const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::string first, second;
  // A record of another volume whose identity hashes alike is not ours.
  return std::getline(in, first) && first == kFirstLine && std::getline(in, second) && second == "volume " + identity_;
}

std::vector<ClaimedRun> ClaimJournal::Runs() const {
  std::vector<ClaimedRun> runs;
  if (!Exists()) return runs;
  std::ifstream in(path_, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    unsigned long first = 0, count = 0;
    char extra = 0;
    const std::string line = text.substr(at, end - at);
    if (std::sscanf(line.c_str(), "run %lu %lu%c", &first, &count, &extra) == 2 && count > 0 &&
        first <= 0xFFFFFFFFul && count <= 0xFFFFFFFFul - first) {
      runs.push_back({static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count)});
    }
  }
  return runs;
}

bool ClaimJournal::Begin() {
  CloseFd(&fd_);
  // The record of an interrupted job that was not reclaimed yet is kept and added to.
  const bool keep = Exists();
#ifndef _WIN32
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0600);
#else
  fd_ = _open(path_.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | (keep ? 0 : _O_TRUNC), _S_IREAD | _S_IWRITE);
#endif
  if (fd_ < 0) return false;
  if (keep) return true;
  const std::string head = std::string(kFirstLine) + "\nvolume " + identity_ + "\n";
  return WriteAllTo(fd_, head) && SyncFile(fd_) && SyncFolder(folder_);
}

bool ClaimJournal::Record(const std::vector<ClaimedRun>& runs) {
  if (fd_ < 0) return false;
  if (runs.empty()) return true;
  std::string text;
  for (const ClaimedRun& run : runs) text += "run " + std::to_string(run.first) + " " + std::to_string(run.count) + "\n";
  return WriteAllTo(fd_, text) && SyncFile(fd_);
}

bool ClaimJournal::End() {
  CloseFd(&fd_);
  if (std::remove(path_.c_str()) != 0) {
    std::ifstream still(path_);
    if (still) return false;
  }
  return SyncFolder(folder_);
}

std::vector<ClaimedRun> RunsOfClusters(std::vector<std::uint32_t> clusters) {
  std::sort(clusters.begin(), clusters.end());
  clusters.erase(std::unique(clusters.begin(), clusters.end()), clusters.end());
  std::vector<ClaimedRun> runs;
  for (std::uint32_t c : clusters) {
    if (!runs.empty() && runs.back().first + runs.back().count == c) {
      ++runs.back().count;
    } else {
      runs.push_back({c, 1});
    }
  }
  return runs;
}

std::string VolumeIdentity(const std::string& path, std::uint32_t serial, std::uint64_t size) {
  char text[96];
  std::snprintf(text, sizeof text, "serial %08x size %llu", serial, static_cast<unsigned long long>(size));
  std::string identity = text;
#ifndef _WIN32
  struct stat st {};
  if (!path.empty() && ::stat(path.c_str(), &st) == 0) {
    if (S_ISBLK(st.st_mode)) {
      identity += " device " + std::to_string(static_cast<unsigned long long>(st.st_rdev));
    } else {
      identity += " file " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
                  std::to_string(static_cast<unsigned long long>(st.st_ino));
    }
  }
#else
  identity += " path " + path;
#endif
  return identity;
}

}  // namespace platform
