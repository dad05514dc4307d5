#!/bin/sh
# Builds the FAT image fuzzer with clang (libFuzzer, ASan, UBSan), makes a seed corpus
# of small images with mkfs.fat and mtools, adds the fixed cases of fuzz/fat/corpus/, and
# fuzzes for a fixed time.
# Usage: run_fat_fuzzer.sh SOURCE_DIR WORK_DIR [SECONDS]
# Exit 77 (skipped) when clang, mkfs.fat or mtools are missing.
set -eu
src=$1
work=$2
seconds=${3:-20}
for tool in clang++ mkfs.fat mcopy mmd mdel; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool missing: skipped"; exit 77; }
done
mkdir -p "$work"
fuzzer="$work/fat_image_fuzzer"
sources="$src/fuzz/fat/fat_image_fuzzer.cpp $src/platform/path_parts.cpp $src/platform/name_text.cpp $(ls "$src"/platform/text/*.cpp) $src/platform/new_file_runs.cpp $src/platform/claim_journal.cpp $src/platform/volume_identity.cpp $src/platform/posix/volume_identity_posix.cpp $(ls "$src"/platform/fat/*.cpp "$src"/platform/exfat/*.cpp)"
newest=$(ls -t $sources "$src"/fuzz/read_extents.h "$src"/platform/fat/*.h "$src"/platform/exfat/*.h "$src"/platform/include/platform/*.h | head -1)
if [ ! -x "$fuzzer" ] || [ "$newest" -nt "$fuzzer" ]; then
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src/platform/include" $sources -o "$fuzzer"
fi

corpus="$work/corpus"
rm -rf "$corpus" "$work/seeds"
mkdir -p "$corpus" "$work/seeds"
export MTOOLS_SKIP_CHECK=1
seeds="$work/seeds"
head -c 700 /dev/urandom > "$seeds/a"
head -c 2100 /dev/urandom > "$seeds/b"
head -c 100 /dev/urandom > "$seeds/c"

img="$corpus/fat12_fragmented.img"
mkfs.fat -C "$img" 64 >/dev/null
for i in 1 2 3 4; do mcopy -i "$img" "$seeds/a" "::/P$i"; done
mdel -i "$img" ::/P2
mcopy -i "$img" "$seeds/b" "::/Fragmented file with a long name.bin"
mmd -i "$img" "::/Folder" "::/Folder/Inner"
mcopy -i "$img" "$seeds/c" "::/Folder/Inner/small.txt"

img="$corpus/fat12_plain.img"
mkfs.fat -C -n LABEL "$img" 64 >/dev/null
mcopy -i "$img" "$seeds/a" "::/readme.txt"

# A FAT32 layout this small is one FAT drivers disagree on (mtools reads it as FAT12),
# so it stays empty; the provider serves it read-only.
mkfs.fat -C -F 32 -s 1 "$corpus/fat32_small.img" 1024 >/dev/null 2>&1

img="$corpus/fat16.img"
mkfs.fat -C -F 16 -s 1 "$img" 2200 >/dev/null 2>&1
mcopy -i "$img" "$seeds/b" "::/B.BIN"
mcopy -i "$img" "$seeds/a" "::/long name.txt"

# Fixed cases: inputs the fuzzer once found faults with, replayed on every run.
#   folder-loop.img.gz  FAT12 whose folders lead back into their own path
for found in "$src"/fuzz/fat/corpus/*.img.gz; do
  gunzip -c "$found" > "$corpus/$(basename "$found" .gz)"
done

exec "$fuzzer" -max_total_time="$seconds" -max_len=2300000 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/" "$corpus"
