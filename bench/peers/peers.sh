#!/bin/sh
# vexa beside the plain tools that do the same work, in one run, on images this script
# makes with mkfs.fat and mtools (nothing is kept: the work folder is removed at the end).
#
#   move     `vexa defrag` of a 1 GiB FAT32 image holding 24 files of 8 MiB, each in
#            about 230 pieces, against `dd bs=1M conv=notrunc,fsync` copying the same
#            192 MiB inside a copy of that image: ratio of throughputs.
#   analyze  `vexa analyze` of a 2 GiB FAT32 image with 20,000 files in 200 folders
#            against `fsck.fat -n` of the same image: ratios of wall and of CPU time.
#   indepth  the in-depth pass over one folder of 2,000 and of 20,000 one-piece files
#            (`vexa optimize` minus `vexa defrag` of the same image): time per candidate.
#
# Times are taken by python3 around each process; each figure is the best of RUNS runs
# (default 3) with a warm page cache, and every image copy is synced before it is timed,
# so a final fsync flushes only the work itself.
#
# Usage: bench/peers/peers.sh [move|analyze|indepth|all]   (default all)
#   VEXA      the vexa program (default build/linux/stage/vexa of this checkout)
#   BENCH_DIR where the images go (default a new folder under ${TMPDIR:-/tmp}); it needs
#             about 3 GB
#   RUNS      runs per figure (default 3)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
VEXA=${VEXA:-$root/build/linux/stage/vexa}
RUNS=${RUNS:-3}
what=${1:-all}
export MTOOLS_SKIP_CHECK=1

for tool in mkfs.fat mcopy mdel mmd fsck.fat dd python3 cc; do
  command -v "$tool" >/dev/null 2>&1 || { echo "peers.sh: $tool is missing" >&2; exit 77; }
done
[ -x "$VEXA" ] || { echo "peers.sh: no vexa at $VEXA (build the linux preset first)" >&2; exit 1; }

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/vexa-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
# vexa writes its report pages beside its engine library: run a private copy.
cp -a "$(dirname "$VEXA")" "$work/stage"
VEXA=$work/stage/$(basename "$VEXA")

# Runs a command and writes "wall user system" in seconds, to the millisecond, to $1
# (/usr/bin/time gives only hundredths, too coarse for runs of a tenth of a second).
timed() {
  python3 -c '
import resource, subprocess, sys, time
start = time.perf_counter()
code = subprocess.call(sys.argv[2:])
wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(sys.argv[1], "w") as out:
    out.write("%.4f %.4f %.4f\n" % (wall, usage.ru_utime, usage.ru_stime))
sys.exit(code)
' "$@"
}

# Best (lowest) wall, user+system and the median wall of RUNS runs of a command; before
# each run, the command named by $prepare (if any) restores its input. Prints
# "wall cpu median-wall".
best() {
  best_wall=; best_cpu=
  : >"$work/walls"
  i=0
  while [ "$i" -lt "$RUNS" ]; do
    i=$((i + 1))
    [ -n "${prepare:-}" ] && $prepare
    timed "$work/time" "$@" >"$work/out" 2>&1 || {
      code=$?
      # fsck.fat -n exits 1 when it finds something; anything else is a failure.
      [ "$1" = fsck.fat ] && [ "$code" -eq 1 ] || { cat "$work/out" >&2; exit 1; }
    }
    read -r wall user sys <"$work/time"
    echo "$wall" >>"$work/walls"
    cpu=$(echo "$user $sys" | awk '{ printf "%.3f", $1 + $2 }')
    if [ -z "$best_wall" ] || awk "BEGIN { exit !($wall < $best_wall) }"; then best_wall=$wall; fi
    if [ -z "$best_cpu" ] || awk "BEGIN { exit !($cpu < $best_cpu) }"; then best_cpu=$cpu; fi
  done
  median_wall=$(sort -n "$work/walls" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  echo "$best_wall $best_cpu $median_wall"
}

ratio() { awk "BEGIN { if ($2 > 0) printf \"%.2f\", $1 / $2; else print \"-\" }"; }

# Random files: $1 folder, $2 count, $3 smallest and $4 largest size in bytes, $5 name
# format (printf, of the file's number).
make_files() {
  python3 - "$@" <<'PY'
import os, random, sys
folder, count, low, high, form = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
os.makedirs(folder, exist_ok=True)
sizes = random.Random(7)
for i in range(count):
    with open(os.path.join(folder, form % i), "wb") as f:
        f.write(os.urandom(sizes.randint(low, high)))
PY
}

bench_move() {
  echo "== move: vexa defrag against dd, 24 files of 8 MiB in about 230 pieces each"
  img=$work/move.img
  truncate -s 1G "$img"
  mkfs.fat -F 32 -s 8 -n MOVES "$img" >/dev/null
  # 48 folders of 228 files of 36 KiB; every other one deleted leaves holes of nine
  # clusters, which the big files then fill from the start of the volume.
  d=0
  while [ $d -lt 48 ]; do
    make_files "$work/fill/D$d" 228 36864 36864 "F%03d.BIN"
    d=$((d + 1))
  done
  # One mcopy per folder with the names in order, so the files lie on disk in name
  # order and deleting the odd ones leaves holes between the even ones.
  mmd -i "$img" ::/fill
  d=0
  while [ $d -lt 48 ]; do
    mmd -i "$img" "::/fill/D$d"
    # shellcheck disable=SC2046
    mcopy -i "$img" $(ls -d "$work/fill/D$d"/* | sort) "::/fill/D$d/" >/dev/null
    d=$((d + 1))
  done
  odd=$(cd "$work/fill" && for f in D*/F*[13579].BIN; do printf '::/fill/%s ' "$f"; done)
  # shellcheck disable=SC2086
  mdel -i "$img" $odd
  rm -rf "$work/fill"
  printf '\377\377\377\377' | dd of="$img" bs=1 seek=$((512 + 492)) conv=notrunc status=none
  make_files "$work/big" 24 8388608 8388608 "BIG%02d.BIN"
  mcopy -i "$img" "$work"/big/* ::/ >/dev/null
  rm -rf "$work/big"

  copy=$work/move-run.img
  restore() { cp --sparse=always "$img" "$copy"; sync; }
  prepare=restore
  set -- $(best "$VEXA" --quiet defrag C --volume "C=$copy")
  vexa_wall=$1 vexa_median=$3
  fsck.fat -n "$copy" >/dev/null || { echo "fsck.fat found faults after vexa defrag" >&2; exit 1; }
  # dd: 192 MiB from the start of the data area to free space at 700 MiB.
  set -- $(best dd if="$copy" of="$copy" bs=1M skip=40 seek=700 count=192 conv=notrunc,fsync status=none)
  dd_wall=$1 dd_median=$3
  # The moves' read pattern alone: 5,440 reads of 36 KiB from every other slot.
  cc -O2 -o "$work/pieces" "$here/pieces.c"
  set -- $(best "$work/pieces" "$copy" 5440 36864 $((40 << 20)) $((700 << 20)))
  pieces_wall=$1 pieces_median=$3
  prepare=
  echo "vexa defrag: ${vexa_wall} s best, ${vexa_median} s median    dd (192 MiB, fsync): ${dd_wall} s best, ${dd_median} s median"
  echo "the moves' reads alone (5,440 of 36 KiB, 1 MiB writes started at once, fdatasync): ${pieces_wall} s best, ${pieces_median} s median"
  echo "throughput ratio vexa/dd: $(ratio "$dd_wall" "$vexa_wall") best, $(ratio "$dd_median" "$vexa_median") median"
  echo "throughput ratio vexa/reads alone: $(ratio "$pieces_wall" "$vexa_wall") best, $(ratio "$pieces_median" "$vexa_median") median"
}

bench_analyze() {
  echo "== analyze: vexa analyze against fsck.fat -n, 20,000 files in 200 folders"
  img=$work/analyze.img
  truncate -s 2G "$img"
  mkfs.fat -F 32 -s 8 -n ANALYZE "$img" >/dev/null
  d=0
  while [ $d -lt 200 ]; do
    make_files "$work/tree/Folder $d" 100 4096 65536 "file %03d.dat"
    d=$((d + 1))
  done
  mcopy -i "$img" -s "$work/tree" ::/ >/dev/null
  rm -rf "$work/tree"
  set -- $(best "$VEXA" --quiet analyze C --volume "C=$img")
  vexa_wall=$1 vexa_cpu=$2
  set -- $(best fsck.fat -n "$img")
  fsck_wall=$1 fsck_cpu=$2
  echo "vexa analyze: ${vexa_wall} s wall, ${vexa_cpu} s CPU    fsck.fat -n: ${fsck_wall} s wall, ${fsck_cpu} s CPU"
  echo "ratio vexa/fsck.fat: wall $(ratio "$vexa_wall" "$fsck_wall"), CPU $(ratio "$vexa_cpu" "$fsck_cpu")"
}

# In-depth pass over one folder of $1 files of 1 to 8 clusters of 512 bytes, packed at
# the start of the volume: the pass examines every candidate (lookup, bitmap, free runs)
# and finds nothing to move, so the figure is the cost of the examination itself.
indepth_one() {
  n=$1
  img=$work/indepth$n.img
  truncate -s 256M "$img"
  mkfs.fat -F 32 -s 1 -n INDEPTH "$img" >/dev/null
  make_files "$work/one" "$n" 100 4096 "F%05d.BIN"
  mcopy -i "$img" -s "$work/one" ::/ONE >/dev/null
  rm -rf "$work/one"
  copy=$work/indepth-run.img
  restore() { cp --sparse=always "$img" "$copy"; sync; }
  prepare=restore
  set -- $(best "$VEXA" --quiet defrag C --volume "C=$copy")
  quick=$1
  set -- $(best "$VEXA" --quiet optimize C --volume "C=$copy")
  optimize=$1
  prepare=
  rm -f "$img" "$copy"
  per=$(awk "BEGIN { printf \"%.1f\", ($optimize - $quick) * 1e6 / $n }")
  echo "$n files: optimize ${optimize} s, quick ${quick} s: ${per} us per candidate"
  eval "per$n=$per"
}

bench_indepth() {
  echo "== indepth: one folder of 2,000 and of 20,000 one-piece files"
  indepth_one 2000
  indepth_one 20000
  echo "time per candidate, 20,000 against 2,000: $(ratio "$per20000" "$per2000")"
}

case $what in
  move) bench_move ;;
  analyze) bench_analyze ;;
  indepth) bench_indepth ;;
  all) bench_move; bench_analyze; bench_indepth ;;
  *) echo "usage: peers.sh [move|analyze|indepth|all]" >&2; exit 1 ;;
esac
