/* A slow memory card for the end-to-end tests, loaded into vexa with LD_PRELOAD.
 *
 * Every pread, pwrite and fdatasync of the process is made to take as long as it would
 * on a card with a fixed delay per request and a fixed transfer rate, so that a job on
 * a small test image lasts long enough to show its progress and to be stopped while it
 * runs, however fast the machine. VEXA_SLOW_CARD="MICROSECONDS,BYTES_PER_SECOND"
 * (default "200,50000000"). Nothing else of the calls changes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static long gLatencyUs = -1;
static long long gBytesPerSecond = 50000000;

static void Configure(void) {
  gLatencyUs = 200;
  const char* text = getenv("VEXA_SLOW_CARD");
  if (text == NULL) return;
  char* end = NULL;
  const long latency = strtol(text, &end, 10);
  if (end != text && latency >= 0) gLatencyUs = latency;
  if (end != NULL && *end == ',') {
    const long long rate = strtoll(end + 1, NULL, 10);
    if (rate > 0) gBytesPerSecond = rate;
  }
}

static void Wait(size_t bytes) {
  if (gLatencyUs < 0) Configure();
  const long long us = gLatencyUs + (long long)bytes * 1000000 / gBytesPerSecond;
  struct timespec delay = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  Wait(size);
  return NEXT(ssize_t (*)(int, void*, size_t, off_t), "pread")(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t offset) {
  Wait(size);
  return NEXT(ssize_t (*)(int, void*, size_t, off_t), "pread64")(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  Wait(size);
  return NEXT(ssize_t (*)(int, const void*, size_t, off_t), "pwrite")(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t size, off_t offset) {
  Wait(size);
  return NEXT(ssize_t (*)(int, const void*, size_t, off_t), "pwrite64")(fd, buffer, size, offset);
}

int fdatasync(int fd) {
  Wait(0);
  return NEXT(int (*)(int), "fdatasync")(fd);
}
