#!/usr/bin/env python3
"""Whole vexa jobs on exFAT images that mkfs.exfat made and exfat-fuse filled.

    exfat_jobs_test.py --stage DIR GROUP     GROUP: analyze, defrag, kill

analyze  the analysis figures against dump.exfat, the FUSE mount's file list and a
         chain reader of this script's own
defrag   a defragmentation: fsck.exfat -n clean, every file identical through
         exfat-fuse, joined files NoFatChain in one run, a second analysis finds none
kill     defragmentations killed (SIGKILL) at random instants: after each the image
         passes fsck.exfat -n and every file reads back identical
perfile  check, contig and put: the pieces check reports against the chains, files made
         contiguous and files copied in (new, replaced, in pieces) read back identical
         through exfat-fuse with fsck.exfat -n clean after each; puts killed at random
         instants leave no file or the whole file

Exit 0 passed, 1 failed, 77 skipped (a tool, loop devices or FUSE missing).
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def need_tools():
    missing = [t for t in ("mkfs.exfat", "fsck.exfat", "dump.exfat", "mount.exfat-fuse", "losetup")
               if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)
    if not os.path.exists("/dev/fuse") or not os.path.exists("/dev/loop-control") or os.geteuid() != 0:
        print("skipped: exFAT images are filled through exfat-fuse on a loop device, which needs "
              "/dev/fuse, /dev/loop-control and root")
        sys.exit(SKIP)


class Mount:
    """The image on a loop device, mounted through exfat-fuse; detached by name after."""

    def __init__(self, image, folder, read_only=False):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.device = subprocess.run(["losetup", "-f", "--show", image], check=True, capture_output=True,
                                     text=True).stdout.strip()
        options = ["-o", "ro"] if read_only else []
        try:
            subprocess.run(["mount.exfat-fuse", *options, self.device, folder], check=True, capture_output=True)
        except subprocess.CalledProcessError:
            subprocess.run(["losetup", "-d", self.device])
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        subprocess.run(["umount", self.folder], check=True)
        for _ in range(50):
            if subprocess.run(["losetup", "-d", self.device], capture_output=True).returncode == 0:
                return
            time.sleep(0.02)
        raise Failure("cannot detach " + self.device)


def make_image(path, work, seed):
    """A 96 MiB image (the engine wants 50 MiB free) with 4 KiB clusters: files grown three at a time in turns (so each
    is in pieces), a folder tree of small files, and a few contiguous files."""
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.truncate(96 << 20)
    subprocess.run(["mkfs.exfat", "-c", "4096", "-L", "CARD", path], check=True, capture_output=True)
    with Mount(path, os.path.join(work, "fill")) as m:
        os.makedirs(os.path.join(m.folder, "Music", "Album One"))
        for group in range(12):
            names = [os.path.join(m.folder, "Music" if group % 2 else "", "track %02d-%d.bin" % (group, k))
                     for k in range(3)]
            for piece in range(rng.randint(3, 6)):
                for name in names:
                    with open(name, "ab") as f:
                        f.write(rng.randbytes(4096 * rng.randint(1, 12) - rng.randint(0, 100)))
                        f.flush()
                        os.fsync(f.fileno())
        for k in range(30):
            with open(os.path.join(m.folder, "Music", "Album One", "note %d.txt" % k), "wb") as f:
                f.write(rng.randbytes(rng.randint(1, 9000)))
        for k in range(4):
            with open(os.path.join(m.folder, "whole %d.dat" % k), "wb") as f:
                f.write(rng.randbytes(rng.randint(10000, 200000)))
        # Holes between the pieces, so joined files have room.
        for group in range(0, 12, 3):
            os.remove(os.path.join(m.folder, "Music" if group % 2 else "", "track %02d-1.bin" % group))


def fuse_hashes(image, work):
    hashes = {}
    with Mount(image, os.path.join(work, "read"), read_only=True) as m:
        for folder, dirs, files in os.walk(m.folder):
            for name in files:
                full = os.path.join(folder, name)
                with open(full, "rb") as f:
                    hashes[os.path.relpath(full, m.folder)] = hashlib.sha256(f.read()).hexdigest()
    return hashes


def chains(image):
    """Every file's clusters, NoFatChain flag and whether its entry set straddles two
    sectors, read from the image by this script."""
    with open(image, "rb") as f:
        d = f.read()
    sector = 1 << d[108]
    cluster = sector << d[109]
    fat = struct.unpack_from("<I", d, 80)[0] * sector
    heap = struct.unpack_from("<I", d, 88)[0] * sector
    count = struct.unpack_from("<I", d, 92)[0]

    def chain(first, size, contiguous):
        out = []
        c = first
        while len(out) * cluster < size and 2 <= c < count + 2:
            out.append(c)
            c = c + 1 if contiguous else struct.unpack_from("<I", d, fat + 4 * c)[0]
        return out

    files = {}

    def walk(clusters, prefix):
        data = b"".join(d[heap + (c - 2) * cluster: heap + (c - 1) * cluster] for c in clusters)
        at = 0
        while at + 32 <= len(data) and data[at] != 0:
            if data[at] == 0x85:
                s = at + 32
                length = data[s + 3]
                name = b"".join(data[s + 32 * (1 + i // 15) + 2 + 2 * (i % 15):][:2] for i in range(length))
                name = name.decode("utf-16-le")
                folder = struct.unpack_from("<H", data, at + 4)[0] & 0x10
                no_fat_chain = bool(data[s + 1] & 2)
                first = struct.unpack_from("<I", data, s + 20)[0]
                size = struct.unpack_from("<Q", data, s + 24)[0]
                mine = chain(first, size, no_fat_chain) if first else []
                if folder:
                    walk(mine, prefix + name + "/")
                else:
                    # A File entry that ends its sector: the set straddles two sectors.
                    files[prefix + name] = (mine, no_fat_chain, at % sector == sector - 32)
            at += 32

    walk(chain(struct.unpack_from("<I", d, 96)[0], 1 << 40, False), "")
    return files


def pieces(clusters):
    return sum(1 for i, c in enumerate(clusters) if i == 0 or c != clusters[i - 1] + 1)


def fsck_clean(image):
    result = subprocess.run(["fsck.exfat", "-n", image], capture_output=True, text=True)
    check(result.returncode == 0, "fsck.exfat -n failed:\n" + result.stdout + result.stderr)


def dump_figure(image, label):
    out = subprocess.run(["dump.exfat", image], check=True, capture_output=True, text=True).stdout
    line = next(l for l in out.splitlines() if l.strip().startswith(label))
    return int(line.split(":")[1].split()[0])


class Install:
    def __init__(self, stage, work):
        self.folder = os.path.join(work, "install")
        shutil.copytree(stage, self.folder, ignore=shutil.ignore_patterns(
            "*report[0-9]*.html", "*reporttop.html", "diskdata", "defragdate", "FileList.txt", "volumes.ini"))
        self.program = os.path.join(self.folder, "vexa")
        self.env = dict(os.environ)
        self.env.pop("VEXA_VOLUMES", None)

    def run(self, *args):
        return subprocess.run([self.program, *args], capture_output=True, text=True, env=self.env, timeout=600)

    def analysis(self, image):
        result = self.run("--json", "--quiet", "analyze", "C", "--volume", "C=" + image)
        check(result.returncode == 0, "analysis failed (%d): %s" % (result.returncode, result.stderr))
        return json.loads(result.stdout.splitlines()[0])["analysis"]


def group_analyze(install, work):
    image = os.path.join(work, "card.img")
    make_image(image, work, seed=1)
    a = install.analysis(image)
    check(a["fileSystem"] == "exFAT", "file system: %s" % a["fileSystem"])
    total = dump_figure(image, "Total Clusters")
    free = dump_figure(image, "Free Clusters")
    check(int(a["totalClusters"]) == total, "total clusters %s, dump.exfat says %d" % (a["totalClusters"], total))
    check(int(a["usedClusters"]) == total - free, "used clusters %s, dump.exfat says %d" % (a["usedClusters"], total - free))
    hashes = fuse_hashes(image, work)
    check(int(a["scannedFiles"]) == len(hashes), "scanned %s files, the mount shows %d" % (a["scannedFiles"], len(hashes)))
    fragmented = [p for p, (c, _, _) in chains(image).items() if pieces(c) > 1]
    check(len(fragmented) > 10, "the fixture is not fragmented enough")
    found = int(a["bigFragmentFiles"]) + int(a["smallFragmentFiles"])
    check(found == len(fragmented), "the engine finds %d fragmented files, the chains show %d" % (found, len(fragmented)))


def group_defrag(install, work):
    image = os.path.join(work, "card.img")
    make_image(image, work, seed=2)
    hashes = fuse_hashes(image, work)
    before = chains(image)
    result = install.run("--json", "defrag", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s%s" % (result.returncode, result.stdout, result.stderr))
    fsck_clean(image)
    check(fuse_hashes(image, work) == hashes, "file contents changed")
    after = chains(image)
    joined = [p for p, (c, _, straddles) in before.items() if pieces(c) > 1 and not straddles]
    kept = [p for p, (c, _, straddles) in before.items() if pieces(c) > 1 and straddles]
    # The files left in pieces are named with their reason.
    left = {}
    for line in result.stdout.splitlines():
        if line.startswith("{"):
            for entry in json.loads(line).get("leftFragmented") or []:
                left[entry["path"][3:].replace("\\", "/")] = (entry["reason"], entry["text"])
    check(left == {p: ("entrySpansSectors", "its directory entry spans two sectors") for p in kept},
          "files left in pieces: %s; straddling: %s" % (left, kept))
    check(joined, "nothing was fragmented")
    check(kept, "the fixture has no fragmented file whose entry set straddles two sectors")
    for path in joined:
        clusters, no_fat_chain, _ = after[path]
        check(pieces(clusters) == 1 and no_fat_chain, "%s: %d pieces, NoFatChain %s" % (path, pieces(clusters), no_fat_chain))
    for path in kept:
        check(after[path] == before[path], "%s straddles two sectors but was moved" % path)
    a = install.analysis(image)
    found = int(a["bigFragmentFiles"]) + int(a["smallFragmentFiles"])
    check(found == len(kept), "a second analysis finds %d fragmented files, %d straddle" % (found, len(kept)))
    with open(image, "rb") as f:
        check(f.read(512)[106] & 2 == 0, "VolumeDirty left set")


def group_kill(install, work):
    pristine = os.path.join(work, "pristine.img")
    make_image(pristine, work, seed=3)
    hashes = fuse_hashes(pristine, work)
    image = os.path.join(work, "card.img")
    rng = random.Random(4)

    reclaimed = []

    def judge(image):
        fsck_clean(image)
        check(fuse_hashes(image, work) == hashes, "file contents changed")
        # The next job gives back what the killed one claimed and clears VolumeDirty:
        # afterwards no cluster is in use by no file.
        result = install.run("defrag", "C", "--volume", "C=" + image)
        check(result.returncode == 0, "the job after a kill failed:\n" + result.stdout + result.stderr)
        if "left by an interrupted job" in result.stderr:
            reclaimed.append(result.stderr)
        fsck_clean(image)
        with open(image, "rb") as f:
            f.seek(106)
            check(f.read(1)[0] & 0x02 == 0, "VolumeDirty still set after the next job")
        lines = json_lines(install.run("--json", "--quiet", "analyze", "C", "--volume", "C=" + image))
        check(lines and lines[0]["lostClusters"] == 0, "clusters left lost after the next job: %s" % lines)
        check(fuse_hashes(image, work) == hashes, "file contents changed in the next job")

    killed = kill_rounds(install, rng, ["defrag", "C"], image, pristine, 8, judge)
    check(killed > 0, "every job ended before its kill: the image is too small to catch one")
    print("%d killed jobs; %d next jobs gave space back" % (killed, len(reclaimed)))
    # A killed job leaves at most lost clusters and a dirty volume: a new job completes.
    result = install.run("defrag", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "a job after the kills failed:\n" + result.stdout + result.stderr)
    fsck_clean(image)
    check(fuse_hashes(image, work) == hashes, "file contents changed")


def kill_rounds(install, rng, args, image, pristine, rounds, judge):
    """Runs `vexa ARGS --volume C=IMAGE` on fresh copies of `pristine`, killed with SIGKILL
    at instants drawn from the span of a whole run on this machine; `judge(image)` checks
    each image afterwards. Returns how many runs were cut short."""
    shutil.copyfile(pristine, image)
    started = time.monotonic()
    check(install.run(*args, "--volume", "C=" + image).returncode == 0, "an uninterrupted run failed")
    span = time.monotonic() - started
    killed = 0
    for round_number in range(rounds):
        shutil.copyfile(pristine, image)
        process = subprocess.Popen([install.program, *args, "--volume", "C=" + image],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=install.env)
        time.sleep(rng.uniform(0.0, span))
        if process.poll() is None:
            process.send_signal(signal.SIGKILL)
            killed += 1
        process.wait()
        try:
            judge(image)
        except Failure as e:
            raise Failure("round %d: %s" % (round_number, e))
    return killed


def json_lines(result):
    return [json.loads(line) for line in result.stdout.splitlines() if line.startswith("{")]


def group_perfile(install, work):
    image = os.path.join(work, "card.img")
    make_image(image, work, seed=5)
    hashes = fuse_hashes(image, work)
    before = chains(image)

    def vexa(*args):
        return install.run("--json", *args, "--volume", "C=" + image)

    # check: every file with the pieces its chain shows.
    result = vexa("check", "C")
    check(result.returncode == 5, "check exit %d: %s" % (result.returncode, result.stderr))
    seen = {r["path"][3:].replace("\\", "/"): r["pieces"] for r in json_lines(result)}
    check(seen == {p: pieces(c) for p, (c, _, _) in before.items()}, "check's pieces differ from the chains")

    # contig: one file that may move, and one whose entry set straddles two sectors.
    movable = sorted(p for p, (c, _, straddles) in before.items() if pieces(c) > 1 and not straddles)[0]
    result = vexa("contig", "C", "/" + movable)
    check(result.returncode == 0, "contig exit %d: %s" % (result.returncode, result.stderr))
    fsck_clean(image)
    clusters, no_fat_chain, _ = chains(image)[movable]
    check(pieces(clusters) == 1 and no_fat_chain, "%s: %d pieces after contig" % (movable, pieces(clusters)))
    check(fuse_hashes(image, work) == hashes, "contig changed file contents")

    # put: a new file, one in pieces, one into a new folder entry, a replacement.
    rng = random.Random(6)
    sources = {}
    for name, size in (("new.bin", 300000), ("pieces.bin", 120000), ("empty", 0), ("replacement", 50000)):
        sources[name] = os.path.join(work, name)
        with open(sources[name], "wb") as f:
            f.write(rng.randbytes(size))
    expected = dict(hashes)

    def put(source, dest, *options):
        result = vexa("put", "C", sources[source], dest, *options)
        check(result.returncode == 0, "put %s exit %d: %s" % (dest, result.returncode, result.stderr))
        fsck_clean(image)
        with open(sources[source], "rb") as f:
            expected[dest.lstrip("/")] = hashlib.sha256(f.read()).hexdigest()
        return json_lines(result)[0]

    put("new.bin", "/new.bin")
    put("pieces.bin", "/Music/Album One/a file copied in with a long name.bin", "--max-pieces", "3")
    put("empty", "/Music/empty")
    replaced = next(p for p, (c, _, straddles) in chains(image).items() if not straddles and p.startswith("Music/"))
    put("replacement", "/" + replaced, "--replace")
    # exFAT files may hold 4 GiB and more: such a source is judged by the free runs (this
    # card has none that large), not refused as a FAT volume refuses it.
    huge = os.path.join(work, "huge.iso")
    with open(huge, "wb") as f:
        f.truncate(5 << 30)  # sparse
    result = vexa("put", "C", huge, "/huge.iso")
    check(result.returncode == 6 and "needs 1,310,720 contiguous clusters" in result.stderr,
          "5 GiB put: exit %d %s" % (result.returncode, result.stderr))
    result = vexa("put", "C", sources["new.bin"], "/new.bin")
    check(result.returncode != 0, "put over an existing file without --replace succeeded")
    # A file whose entry set straddles two sectors cannot be replaced in one safe write:
    # refused as such, not as a full folder, and the volume is left as it was.
    straddling = sorted(p for p, (_, _, straddles) in chains(image).items() if straddles)
    check(straddling, "the card has no entry set that straddles two sectors")
    result = vexa("put", "C", sources["new.bin"], "/" + straddling[0], "--replace")
    check(result.returncode == 2 and "would span two sectors" in result.stderr,
          "replacing a straddling entry: exit %d %s" % (result.returncode, result.stderr))
    check([r["outcome"] for r in json_lines(result)] == ["split entry"], "outcome of the straddling replace")
    fsck_clean(image)
    check(fuse_hashes(image, work) == expected, "files copied in read back differently")
    with open(image, "rb") as f:
        check(f.read(512)[106] & 2 == 0, "VolumeDirty left set")

    # Puts killed at random instants: no file or the whole file, the rest untouched.
    big = os.path.join(work, "big.bin")
    with open(big, "wb") as f:
        f.write(rng.randbytes(24 << 20))
    with open(big, "rb") as f:
        big_hash = hashlib.sha256(f.read()).hexdigest()
    pristine = os.path.join(work, "pristine.img")
    shutil.copyfile(image, pristine)

    def judge(image):
        fsck_clean(image)
        now = fuse_hashes(image, work)
        if "big.bin" in now:
            check(now.pop("big.bin") == big_hash, "a partial big.bin")
        check(now == expected, "other files changed")

    killed = kill_rounds(install, rng, ["put", "C", big, "/big.bin"], image, pristine, 6, judge)
    check(killed > 0, "every put ended before its kill")


GROUPS = {"analyze": group_analyze, "defrag": group_defrag, "kill": group_kill, "perfile": group_perfile}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    args = parser.parse_args()
    need_tools()
    work = tempfile.mkdtemp(prefix="vexa_exfat_")
    try:
        install = Install(args.stage, work)
        GROUPS[args.group](install, work)
    except Failure as e:
        print("FAILED: %s" % e)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
