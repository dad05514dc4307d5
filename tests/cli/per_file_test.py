#!/usr/bin/env python3
"""End-to-end tests of vexa check, contig and put on FAT images made by mkfs.fat and
mtools, as a user of a game loader would run them: every result is read back with
mtools (mshowfat for the pieces, mcopy for the bytes, mdir for the names) and every
image must pass `fsck.fat -n` afterwards; kill rounds stop the program with SIGKILL at
many points of a put and a contig.

    per_file_test.py --stage DIR GROUP      GROUP: check, contig, put, kill, finishing-pass

Exit 0 passed, 1 failed, 77 skipped (a tool is missing).
"""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_test import (MB, Failure, Install, check, check_fsck_clean, file_hashes, make_cross_linked_image,  # noqa: E402
                      mtools_env, need_tools, run_tool)


def make_card(path, work, fat_bits, size_mb, cluster_sectors, seed=3):
    """A card holding a few game folders: small files, then larger ones in the holes
    left by deleting every other small file, so the larger ones lie in pieces."""
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.truncate(size_mb * MB)
    run_tool("mkfs.fat", "-F", str(fat_bits), "-s", str(cluster_sectors), "-n", "CARD", path)
    bpc = 512 * cluster_sectors
    run_tool("mmd", "-i", path, "::GAMES", "::GAMES/Retro Disks")
    fill = os.path.join(work, "fill")
    os.makedirs(fill, exist_ok=True)
    for i in range(24):
        with open(os.path.join(fill, "S%02d.BIN" % i), "wb") as f:
            f.write(rng.randbytes(bpc * 2))
    run_tool("mcopy", "-i", path, *[os.path.join(fill, "S%02d.BIN" % i) for i in range(24)], "::GAMES")
    run_tool("mdel", "-i", path, *["::GAMES/S%02d.BIN" % i for i in range(0, 24, 2)])
    if fat_bits == 32:
        with open(path, "r+b") as f:  # FSInfo next-free hint: unknown, so mtools fills holes
            f.seek(512 + 0x1EC)
            f.write(b"\xff\xff\xff\xff")
    for name, clusters in (("GAMES/X.ISO", 9), ("GAMES/Retro Disks/Disk One (Side A).dsk", 5), ("BOOT.BIN", 1)):
        source = os.path.join(work, "src")
        with open(source, "wb") as f:
            f.write(rng.randbytes(bpc * clusters - 7))
        run_tool("mcopy", "-i", path, source, "::" + name)
    return bpc


def data_clusters(image):
    """Data clusters of a FAT12/16 image, from its boot sector."""
    with open(image, "rb") as f:
        boot = f.read(64)
    sector = int.from_bytes(boot[11:13], "little")
    per_cluster = boot[13]
    reserved = int.from_bytes(boot[14:16], "little")
    root_sectors = (int.from_bytes(boot[17:19], "little") * 32 + sector - 1) // sector
    total = int.from_bytes(boot[19:21], "little") or int.from_bytes(boot[32:36], "little")
    fat_sectors = int.from_bytes(boot[22:24], "little")
    return (total - reserved - boot[16] * fat_sectors - root_sectors) // per_cluster


def fill_with_holes(image, work, folder, clusters_each):
    """Fills the image with files of `clusters_each` clusters, one after another, up to
    less than one file's worth of free clusters, then deletes every other one."""
    count = (data_clusters(image) - 2 * clusters_each) // clusters_each
    host = os.path.join(work, folder)
    os.makedirs(host)
    rng = random.Random(count)
    names = []
    for i in range(count):
        names.append(os.path.join(host, "F%03d" % i))
        with open(names[-1], "wb") as f:
            f.write(rng.randbytes(clusters_each * 512))
    run_tool("mmd", "-i", image, "::" + folder)
    run_tool("mcopy", "-i", image, *names, "::" + folder)  # in the order given, one after another
    run_tool("mdel", "-i", image, *["::%s/F%03d" % (folder, i) for i in range(0, count, 2)])


def mshowfat_pieces(image, path):
    out = subprocess.run(["mshowfat", "-i", image, "::" + path], check=True, capture_output=True, text=True,
                         env=mtools_env()).stdout
    return out.count("<")


def mshowfat_runs(image, path):
    out = subprocess.run(["mshowfat", "-i", image, "::" + path], check=True, capture_output=True, text=True,
                         env=mtools_env()).stdout
    runs = []
    for part in out.split("<")[1:]:
        span = part.split(">")[0]
        first, _, last = span.partition("-")
        runs.append((int(first), int(last or first)))
    return runs


def mtype(image, path):
    return subprocess.run(["mtype", "-i", image, "::" + path], check=True, capture_output=True,
                          env=mtools_env()).stdout


def mdir(image, path):
    return subprocess.run(["mdir", "-i", image, "::" + path], check=True, capture_output=True, text=True,
                          env=mtools_env()).stdout


def fsck_findings(image):
    """fsck.fat -n lines other than those a crash may leave (lost clusters, FATs that
    differ, the dirty bit, the free count)."""
    allowed = ("fsck.fat ", "FATs differ but appear to be intact", "Using first FAT", "Dirty bit is set",
               "Automatically removing dirty bit", "Free cluster summary", "Auto-correcting", "Reclaimed ",
               "Leaving filesystem unchanged", "Checking for unused clusters", "files, ")
    out = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
    return [line for line in (out.stdout + out.stderr).splitlines()
            if line.strip() and not any(a in line for a in allowed)]


def group_check(install, work):
    for fat_bits, size_mb, sectors in ((12, 2, 1), (16, 20, 4), (32, 40, 1)):
        image = os.path.join(work, "card%d.img" % fat_bits)
        make_card(image, work, fat_bits, size_mb, sectors)
        before = file_hashes(image, work)
        result = install.run("--json", "check", "C", "--volume", "C=" + image)
        check(result.returncode == 5, "FAT%d check: exit %d, not 5\n%s" % (fat_bits, result.returncode, result.stderr))
        files = [json.loads(line) for line in result.stdout.splitlines()]
        check(len(files) == len(before), "FAT%d: check listed %d files, the image holds %d" % (
            fat_bits, len(files), len(before)))
        for entry in files:
            path = entry["path"][3:].replace("\\", "/")
            pieces = mshowfat_pieces(image, path)
            check(entry["pieces"] == pieces, "FAT%d %s: check says %d pieces, mshowfat %d" % (
                fat_bits, path, entry["pieces"], pieces))
            check(entry["ok"] == (pieces <= 1), "FAT%d %s: ok is %s" % (fat_bits, path, entry["ok"]))
            # The file system's own cluster numbers, as mshowfat prints them.
            runs = mshowfat_runs(image, path)
            check(entry["firstCluster"] == (runs[0][0] if runs else -1), "FAT%d %s: firstCluster %d, mshowfat %s" % (
                fat_bits, path, entry["firstCluster"], runs))
        check(any(not e["ok"] for e in files), "FAT%d: the card has no fragmented file" % fat_bits)
        # Every way of naming one file; a folder means every file under it.
        for spelling in ("\\GAMES\\X.ISO", "/games/x.iso", "C:\\GAMES\\X.ISO", "c:/Games/X.iso"):
            result = install.run("--json", "check", "C", spelling, "--volume", "C=" + image)
            lines = result.stdout.splitlines()
            check(len(lines) == 1 and json.loads(lines[0])["path"] == "C:\\GAMES\\X.ISO",
                  "check %s: %s %s" % (spelling, result.stdout, result.stderr))
        result = install.run("--json", "check", "C", "/GAMES/RETROD~1/DISKON~1.DSK", "--volume", "C=" + image)
        check(json.loads(result.stdout)["path"] == "C:\\GAMES\\Retro Disks\\Disk One (Side A).dsk",
              "8.3 aliases: " + result.stdout + result.stderr)
        result = install.run("--json", "check", "C", "/GAMES/Retro Disks", "--max-pieces", "40", "--volume", "C=" + image)
        check(result.returncode == 0 and len(result.stdout.splitlines()) == 1, "folder check: %d %s" % (
            result.returncode, result.stdout))
        result = install.run("check", "C", "/GAMES/NOPE.ISO", "--volume", "C=" + image)
        check(result.returncode == 1 and "no such file" in result.stderr, "missing file: " + result.stderr)
        # ".." is resolved as put resolves it; a missing path is an object with "error" too.
        result = install.run("--json", "check", "C", "/GAMES/Retro Disks/../X.ISO", "--volume", "C=" + image)
        check(result.returncode == 5 and json.loads(result.stdout)["path"] == "C:\\GAMES\\X.ISO",
              "..: %d %s %s" % (result.returncode, result.stdout, result.stderr))
        result = install.run("--json", "check", "C", "/GAMES/NOPE.ISO", "/BOOT.BIN", "--volume", "C=" + image)
        answers = [json.loads(line) for line in result.stdout.splitlines()]
        check(result.returncode == 1 and len(answers) == 2 and "no such file" in answers[0]["error"] and
              answers[1]["path"] == "C:\\BOOT.BIN", "--json missing path: %s" % result.stdout)
        check(file_hashes(image, work) == before, "check changed the image")
    # The text form: one line per file and a summary.
    result = install.run("check", "C", "/GAMES", "--volume", "C=" + image)
    check("X.ISO  <- too many pieces" in result.stdout and "in more than 1 piece." in result.stdout, result.stdout)


def group_contig(install, work):
    image = os.path.join(work, "card.img")
    make_card(image, work, 16, 20, 4)
    before = file_hashes(image, work)
    check(mshowfat_pieces(image, "GAMES/X.ISO") > 1, "X.ISO is not fragmented")
    result = install.run("contig", "C", "/GAMES/X.ISO", "/BOOT.BIN", "--volume", "C=" + image)
    check(result.returncode == 0, "contig: exit %d\n%s%s" % (result.returncode, result.stdout, result.stderr))
    check("made contiguous" in result.stdout and "BOOT.BIN: already in one piece" in result.stdout, result.stdout)
    check(mshowfat_pieces(image, "GAMES/X.ISO") == 1, "X.ISO still in pieces")
    first = mshowfat_runs(image, "GAMES/X.ISO")[0][0]
    check("clusters from cluster %s." % format(first, ",") in result.stdout,
          "contig names another cluster than mshowfat's %d:\n%s" % (first, result.stdout))
    # A file in one piece: the volume's real free-space figures, and no error.
    answer = json.loads(install.run("--json", "contig", "C", "/BOOT.BIN", "--volume", "C=" + image).stdout)
    check(answer["outcome"] == "already contiguous" and answer["largestFreeRun"] > 0 and
          answer["freeClusters"] >= answer["largestFreeRun"] and answer["error"] is None, str(answer))
    check(answer["firstCluster"] == mshowfat_runs(image, "BOOT.BIN")[0][0], str(answer))
    # A damaged volume: named as such, with the check to run; --json says it too.
    damaged = os.path.join(work, "damaged.img")
    make_cross_linked_image(damaged, work)
    result = install.run("--json", "contig", "C", "/A.TXT", "--volume", "C=" + damaged)
    check(result.returncode == 2 and "cannot be changed by contig" in result.stderr and "fsck.fat" in result.stderr
          and "cannot be defragmented" not in result.stderr, "damaged: %s" % result.stderr)
    check("inconsistent" in json.loads(result.stdout)["error"], "damaged --json: " + result.stdout)
    check_fsck_clean(image)
    check(file_hashes(image, work) == before, "contig changed file contents")

    # A full card: no run holds the file until the others are packed.
    full = os.path.join(work, "full.img")
    with open(full, "wb") as f:
        f.truncate(2 * MB)
    run_tool("mkfs.fat", "-F", "12", "-s", "1", full)
    fill_with_holes(full, work, "full", 20)
    rng = random.Random(9)
    with open(os.path.join(work, "game"), "wb") as f:
        f.write(rng.randbytes(150 * 512))
    run_tool("mcopy", "-i", full, os.path.join(work, "game"), "::GAME.ISO")
    before = file_hashes(full, work)
    result = install.run("contig", "C", "GAME.ISO", "--volume", "C=" + full)
    check(result.returncode == 6, "no room: exit %d\n%s" % (result.returncode, result.stderr))
    check("C:\\GAME.ISO needs 150 contiguous clusters; the largest free run has " in result.stderr, result.stderr)
    result = install.run("--json", "contig", "C", "GAME.ISO", "--make-room", "--volume", "C=" + full)
    check(result.returncode == 0, "make-room: exit %d\n%s%s" % (result.returncode, result.stdout, result.stderr))
    answer = json.loads(result.stdout)
    check(answer["outcome"] == "done" and answer["pieces"] == 1 and len(answer["movedFiles"]) > 0, result.stdout)
    check(mshowfat_pieces(full, "GAME.ISO") == 1, "GAME.ISO still in pieces after making room")
    check_fsck_clean(full)
    check(file_hashes(full, work) == before, "making room changed file contents")


def group_finishing_pass(install, work):
    """optimize on a full card: the quick pass finds no run for the game, the packing
    opens one, and the finishing pass joins the game in the same run."""
    full = os.path.join(work, "full.img")
    with open(full, "wb") as f:
        f.truncate(2 * MB)
    run_tool("mkfs.fat", "-F", "12", "-s", "1", full)
    fill_with_holes(full, work, "full", 20)
    with open(os.path.join(work, "game"), "wb") as f:
        f.write(random.Random(9).randbytes(150 * 512))
    run_tool("mcopy", "-i", full, os.path.join(work, "game"), "::GAME.ISO")
    check(mshowfat_pieces(full, "GAME.ISO") > 1, "GAME.ISO is not in pieces")
    before = file_hashes(full, work)
    result = install.run("optimize", "C", "--min-free", "0", "--volume", "C=" + full)
    check(result.returncode == 0, "optimize: exit %d\n%s%s" % (result.returncode, result.stdout, result.stderr))
    check("C: 1 more file joined after packing." in result.stdout, "no finishing pass:\n" + result.stdout)
    check("still in more than one piece" not in result.stdout, "the joined file is still listed:\n" + result.stdout)
    check(mshowfat_pieces(full, "GAME.ISO") == 1, "GAME.ISO still in pieces after optimize")
    check_fsck_clean(full)
    check(file_hashes(full, work) == before, "optimize changed file contents")
    # Nothing left for a second run: the JSON says none was joined.
    result = install.run("--json", "--quiet", "optimize", "C", "--min-free", "0", "--volume", "C=" + full)
    answer = json.loads(result.stdout)
    check(answer["joinedAfterPacking"] == 0 and answer["leftFragmented"] == [], str(answer)[-300:])


def group_put(install, work):
    for fat_bits, size_mb, sectors in ((12, 2, 1), (16, 20, 4), (32, 40, 1)):
        image = os.path.join(work, "card%d.img" % fat_bits)
        bpc = make_card(image, work, fat_bits, size_mb, sectors)
        rng = random.Random(fat_bits)
        source = os.path.join(work, "Legend of the Hidden Temple (USA).iso")
        data = rng.randbytes(bpc * 30 + 123)
        with open(source, "wb") as f:
            f.write(data)
        result = install.run("put", "C", source, "/GAMES/", "--volume", "C=" + image)
        check(result.returncode == 0, "FAT%d put: exit %d\n%s%s" % (fat_bits, result.returncode, result.stdout,
                                                                    result.stderr))
        name = "GAMES/Legend of the Hidden Temple (USA).iso"
        check(mtype(image, name) == data, "FAT%d: mcopy reads other bytes back" % fat_bits)
        check(mshowfat_pieces(image, name) == 1, "FAT%d: put left the file in pieces" % fat_bits)
        listing = mdir(image, "GAMES")
        check("Legend of the Hidden Temple (USA).iso" in listing and "LEGEND~1 ISO" in listing, listing)
        check_fsck_clean(image)
        # Never over an existing file without --replace; with it, the new content.
        result = install.run("put", "C", source, "/games/legend of the hidden temple (usa).ISO", "--volume",
                             "C=" + image)
        check(result.returncode == 1 and "--replace" in result.stderr, "existing file: " + result.stderr)
        newer = rng.randbytes(bpc * 3)
        with open(source, "wb") as f:
            f.write(newer)
        result = install.run("put", "C", source, "/" + name, "--replace", "--volume", "C=" + image)
        check(result.returncode == 0, "replace: %d %s" % (result.returncode, result.stderr))
        check(mtype(image, name) == newer, "FAT%d: replaced content differs" % fat_bits)
        check_fsck_clean(image)
    # No run holds it: refused with the figures; in at most N pieces it fits.
    image = os.path.join(work, "small.img")
    with open(image, "wb") as f:
        f.truncate(2 * MB)
    run_tool("mkfs.fat", "-F", "12", "-s", "1", image)
    fill_with_holes(image, work, "small", 60)
    big = os.path.join(work, "big.iso")
    data = random.Random(5).randbytes(200 * 512)
    with open(big, "wb") as f:
        f.write(data)
    result = install.run("put", "C", big, "/BIG.ISO", "--volume", "C=" + image)
    check(result.returncode == 6, "no run: exit %d %s" % (result.returncode, result.stderr))
    check("C:\\BIG.ISO needs 200 contiguous clusters; the largest free run has " in result.stderr, result.stderr)
    result = install.run("put", "C", big, "/BIG.ISO", "--max-pieces", "2", "--volume", "C=" + image)
    check(result.returncode == 6 and "in at most 2 pieces" in result.stderr, result.stderr)
    result = install.run("--json", "put", "C", big, "/BIG.ISO", "--max-pieces", "40", "--volume", "C=" + image)
    check(result.returncode == 0, "in pieces: %d %s" % (result.returncode, result.stderr))
    pieces = json.loads(result.stdout)["pieces"]
    check(pieces == mshowfat_pieces(image, "BIG.ISO") and 1 < pieces <= 40, result.stdout)
    check(mtype(image, "BIG.ISO") == data, "BIG.ISO reads other bytes back")
    check_fsck_clean(image)
    # A FAT file holds less than 4 GiB: a larger source is refused before anything is written.
    huge = os.path.join(work, "huge.iso")
    with open(huge, "wb") as f:
        f.truncate(4 * 1024 * MB)  # sparse: 4 GiB exactly
    before = open(image, "rb").read()
    result = install.run("put", "C", huge, "/HUGE.ISO", "--max-pieces", "1000", "--volume", "C=" + image)
    check(result.returncode == 1 and "a FAT file holds less than 4 GiB" in result.stderr,
          "4 GiB: exit %d %s" % (result.returncode, result.stderr))
    check(open(image, "rb").read() == before, "the refused put changed the image")
    # Names Windows reserves or FAT forbids, a folder or a device as SOURCE: refused, said why.
    for dest, text in (("/AUX.TXT", "Windows reserves the name AUX"), ("/con", "Windows reserves the name CON"),
                       ("/A?B.ISO", "cannot contain \"?\""), ("/GAMES/LPT1.bin", "Windows reserves the name LPT1")):
        result = install.run("--json", "put", "C", big, dest, "--volume", "C=" + image)
        check(result.returncode == 1 and text in result.stderr and text in json.loads(result.stdout)["error"],
              "put %s: %d %s %s" % (dest, result.returncode, result.stdout, result.stderr))
    for source, text in ((work, "is a folder; put copies one file"), ("/dev/null", "is a device, not a file"),
                         (os.path.join(work, "missing.iso"), "no such file")):
        result = install.run("put", "C", source, "/X.ISO", "--volume", "C=" + image)
        check(result.returncode == 1 and text in result.stderr, "put from %s: %s" % (source, result.stderr))
    check(open(image, "rb").read() == before, "a refused name changed the image")
    # put names the first cluster as mshowfat does.
    small = os.path.join(work, "small.bin")
    with open(small, "wb") as f:
        f.write(b"x" * 1000)
    answer = json.loads(install.run("--json", "put", "C", small, "/SMALL.BIN", "--volume", "C=" + image).stdout)
    check(answer["outcome"] == "done" and answer["firstCluster"] == mshowfat_runs(image, "SMALL.BIN")[0][0]
          and answer["error"] is None, str(answer))


def kill_rounds(install, work, make, args, settle):
    """Runs vexa with `args` and kills it with SIGKILL after growing delays; after each
    round `settle(image)` judges the image. Returns how many rounds were cut short."""
    cut = 0
    for delay in (0.02, 0.05, 0.1, 0.2, 0.35, 0.5, 0.8, 1.2):
        image = make()
        env = dict(os.environ)
        env.pop("VEXA_VOLUMES", None)
        process = subprocess.Popen([install.program, *args, "--volume", "C=" + image], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, env=env)
        time.sleep(delay)
        if process.poll() is None:
            process.send_signal(signal.SIGKILL)
            cut += 1
        process.wait()
        findings = fsck_findings(image)
        check(findings == [], "after a kill at %.2f s fsck.fat found:\n%s" % (delay, "\n".join(findings)))
        settle(image)
    return cut


def group_kill(install, work):
    rng = random.Random(11)
    pristine = os.path.join(work, "pristine.img")
    make_card(pristine, work, 32, 200, 1)
    before = file_hashes(pristine, work)
    source = os.path.join(work, "Big Game.iso")
    data = rng.randbytes(96 * MB)
    with open(source, "wb") as f:
        f.write(data)
    image = os.path.join(work, "card.img")

    def fresh():
        with open(pristine, "rb") as src, open(image, "wb") as dst:
            dst.write(src.read())
        return image

    def put_settled(image):
        hashes = file_hashes(image, work)
        added = hashes.pop(os.path.join("GAMES", "Big Game.iso"), None)
        check(hashes == before, "a killed put changed other files")
        if added is not None:
            check(mtype(image, "GAMES/Big Game.iso") == data, "a killed put left a partial file")

    cut = kill_rounds(install, work, fresh, ["put", "C", source, "/GAMES/"], put_settled)
    check(cut >= 2, "only %d of the put rounds were cut short" % cut)

    # contig of a file of many pieces: killed at any point, every file reads as before.
    run_tool("mcopy", "-i", pristine, "-o", source, "::GAMES/Big Game.iso")
    check(mshowfat_pieces(pristine, "GAMES/Big Game.iso") > 1, "the big game is not in pieces")
    before = file_hashes(pristine, work)

    def contig_settled(image):
        check(file_hashes(image, work) == before, "a killed contig changed file contents")

    kill_rounds(install, work, fresh, ["contig", "C", "/GAMES/Big Game.iso"], contig_settled)


GROUPS = {"check": group_check, "contig": group_contig, "put": group_put, "kill": group_kill,
          "finishing-pass": group_finishing_pass}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    args = parser.parse_args()
    need_tools("mkfs.fat", "mcopy", "mdel", "mdir", "mmd", "mshowfat", "mtype", "fsck.fat")
    with tempfile.TemporaryDirectory(prefix="vexa-perfile-") as work:
        try:
            GROUPS[args.group](Install(args.stage, work), work)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
