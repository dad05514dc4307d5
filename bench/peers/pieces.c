/* The read pattern of the move benchmark without the moves: COUNT reads of PIECE bytes
 * taken from every other PIECE-sized slot from FROM (as the big files' pieces lie between
 * the kept small files), gathered into 1 MiB writes to TO, each handed to the disk at
 * once (sync_file_range, as vexa does), then one fdatasync. What a defragmenter cannot
 * go below when the pieces are that small and that scattered.
 *
 *   pieces IMAGE COUNT PIECE FROM TO     (sizes and offsets in bytes) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: pieces IMAGE COUNT PIECE FROM TO\n");
    return 1;
  }
  const int fd = open(argv[1], O_RDWR);
  const long count = atol(argv[2]);
  const size_t piece = (size_t)atol(argv[3]);
  const off_t from = (off_t)atoll(argv[4]);
  off_t to = (off_t)atoll(argv[5]);
  const size_t size = 1u << 20;
  char* buffer = malloc(size + piece);
  if (fd < 0 || buffer == NULL || piece == 0) return 1;
  size_t filled = 0;
  for (long i = 0; i < count; ++i) {
    if (pread(fd, buffer + filled, piece, from + (off_t)(2 * i) * (off_t)piece) != (ssize_t)piece) return 1;
    filled += piece;
    if (filled + piece > size || i + 1 == count) {
      if (pwrite(fd, buffer, filled, to) != (ssize_t)filled) return 1;
      sync_file_range(fd, to, (off_t)filled, SYNC_FILE_RANGE_WRITE);
      to += (off_t)filled;
      filled = 0;
    }
  }
  return fdatasync(fd) == 0 ? 0 : 1;
}
