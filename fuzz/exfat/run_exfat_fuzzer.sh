#!/bin/sh
# Builds the exFAT image fuzzer with clang (libFuzzer, ASan, UBSan), makes a seed corpus
# of small mkfs.exfat images (filled through exfat-fuse on a loop device where that
# works, empty otherwise), and fuzzes for a fixed time.
# Usage: run_exfat_fuzzer.sh SOURCE_DIR WORK_DIR [SECONDS]
# Exit 77 (skipped) when clang or mkfs.exfat is missing.
set -eu
src=$1
work=$2
seconds=${3:-20}
for tool in clang++ mkfs.exfat; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
done
mkdir -p "$work"
fuzzer="$work/exfat_image_fuzzer"
sources="$src/fuzz/exfat/exfat_image_fuzzer.cpp $src/platform/path_parts.cpp $src/platform/name_text.cpp $(ls "$src"/platform/text/*.cpp) $src/platform/new_file_runs.cpp $src/platform/claim_journal.cpp $src/platform/volume_identity.cpp $src/platform/posix/volume_identity_posix.cpp $(ls "$src"/platform/fat/*.cpp "$src"/platform/exfat/*.cpp)"
newest=$(ls -t $sources "$src"/fuzz/read_extents.h "$src"/platform/fat/*.h "$src"/platform/exfat/*.h "$src"/platform/include/platform/*.h | head -1)
if [ ! -x "$fuzzer" ] || [ "$newest" -nt "$fuzzer" ]; then
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src/platform/include" $sources -o "$fuzzer"
fi

corpus="$work/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"

# Fills an image through exfat-fuse: a file grown in turns with another (so both are in
# pieces), a folder with small files, an empty file. False when no loop device or FUSE.
fill() {
  command -v mount.exfat-fuse >/dev/null 2>&1 && [ -e /dev/fuse ] && [ -e /dev/loop-control ] || return 1
  device=$(losetup -f --show "$1") || return 1
  mnt="$work/mnt"
  mkdir -p "$mnt"
  if ! mount.exfat-fuse "$device" "$mnt" >/dev/null 2>&1; then
    losetup -d "$device"
    return 1
  fi
  for i in 1 2 3; do
    head -c 600 /dev/urandom >> "$mnt/Pieces.bin"; sync "$mnt/Pieces.bin"
    head -c 512 /dev/urandom >> "$mnt/other"; sync "$mnt/other"
  done
  mkdir "$mnt/Folder"
  for i in 1 2 3 4 5 6; do head -c 100 /dev/urandom > "$mnt/Folder/small file $i.txt"; done
  : > "$mnt/Folder/empty"
  rm "$mnt/other"
  umount "$mnt"
  for i in 1 2 3 4 5 6 7 8 9 10; do losetup -d "$device" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

img="$corpus/exfat_512.img"
truncate -s 256K "$img"
mkfs.exfat -b 4096 -c 512 -L SEED "$img" >/dev/null
fill "$img" || echo "no loop device or FUSE: seeds stay empty"

img="$corpus/exfat_4k.img"
truncate -s 512K "$img"
mkfs.exfat -b 4096 -c 4096 "$img" >/dev/null
fill "$img" || true

exec "$fuzzer" -max_total_time="$seconds" -max_len=600000 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/" "$corpus"
