/* A slow memory card for the end-to-end tests, loaded into the program under test with
 * LD_PRELOAD.
 *
 * Every pread, pwrite and fdatasync of the process is made to take as long as it would
 * on a card with a fixed delay per request and a fixed transfer rate, so that a job on
 * a small test image lasts long enough to show its progress and to be stopped while it
 * runs, however fast the machine.
 *
 *   VEXA_SLOW_CARD="MICROSECONDS,BYTES_PER_SECOND[,writes]"  (default "200,50000000")
 *     with ",writes" only writes and flushes are slow, as on a card that reads quickly
 *     and writes slowly, so that loading a volume stays quick.
 *   VEXA_SLOW_CARD_FILE=PATH
 *     only calls on that file (or, for a folder, on the files in it and below) are
 *     slow, and then also read, write and fsync at the file's position (the calls wine
 *     makes for a Windows program's file access) and fwrite (a report page).
 *
 * Nothing else of the calls changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static int gConfigured = 0;
static long gLatencyUs = 200;
static long long gBytesPerSecond = 50000000;
static int gWritesOnly = 0;
static int gOneFile = 0;
static dev_t gDevice;
static ino_t gInode;
static char gFolder[4096];  /* "PATH/" when PATH is a folder */

static void Configure(void) {
  if (gConfigured) return;
  gConfigured = 1;
  const char* text = getenv("VEXA_SLOW_CARD");
  if (text != NULL) {
    char* end = NULL;
    const long latency = strtol(text, &end, 10);
    if (end != text && latency >= 0) gLatencyUs = latency;
    if (end != NULL && *end == ',') {
      const long long rate = strtoll(end + 1, &end, 10);
      if (rate > 0) gBytesPerSecond = rate;
      gWritesOnly = strcmp(end, ",writes") == 0;
    }
  }
  const char* file = getenv("VEXA_SLOW_CARD_FILE");
  struct stat st;
  if (file != NULL && stat(file, &st) == 0) {
    gOneFile = 1;
    gDevice = st.st_dev;
    gInode = st.st_ino;
    if (S_ISDIR(st.st_mode) && realpath(file, gFolder) != NULL && strlen(gFolder) + 2 < sizeof gFolder) {
      strcat(gFolder, "/");
    } else {
      gFolder[0] = 0;
    }
  }
}

/* Whether a call on `fd` is one of the card's. `always` marks the calls that are slow
 * on every file when no file is named. */
static int OnCard(int fd, int always) {
  Configure();
  if (!gOneFile) return always;
  if (gFolder[0] != 0) {
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = 0;
    return strncmp(path, gFolder, strlen(gFolder)) == 0;
  }
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_dev == gDevice && st.st_ino == gInode;
}

static void Wait(size_t bytes) {
  const long long us = gLatencyUs + (long long)bytes * 1000000 / gBytesPerSecond;
  struct timespec delay = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

static void Read(int fd, size_t bytes, int always) {
  if (OnCard(fd, always) && !gWritesOnly) Wait(bytes);
}

static void Write(int fd, size_t bytes, int always) {
  if (OnCard(fd, always)) Wait(bytes);
}

/* The C library's own `name`, looked up once. */
#define NEXT(name)                                                    \
  ({                                                                  \
    static __typeof__(&name) next_ = NULL;                            \
    if (next_ == NULL) next_ = (__typeof__(&name))dlsym(RTLD_NEXT, #name); \
    next_;                                                            \
  })

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  Read(fd, size, 1);
  return NEXT(pread)(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t offset) {
  Read(fd, size, 1);
  return NEXT(pread64)(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  Write(fd, size, 1);
  return NEXT(pwrite)(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off_t offset) {
  Write(fd, size, 1);
  return NEXT(pwrite64)(fd, buffer, size, offset);
}

int fdatasync(int fd) {
  Write(fd, 0, 1);
  return NEXT(fdatasync)(fd);
}

ssize_t read(int fd, void* buffer, size_t size) {
  Read(fd, size, 0);
  return NEXT(read)(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size) {
  Write(fd, size, 0);
  return NEXT(write)(fd, buffer, size);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
  Write(fileno(stream), size * count, 0);
  return NEXT(fwrite)(buffer, size, count, stream);
}

int fsync(int fd) {
  Write(fd, 0, 0);
  return NEXT(fsync)(fd);
}
