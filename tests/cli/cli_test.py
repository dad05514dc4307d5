#!/usr/bin/env python3
"""End-to-end tests of the vexa program on FAT images made by mkfs.fat and mtools.

Each test group copies the engine's stage folder (program, engine library, data files)
into a folder of its own, so its report pages and engine files are its own, builds its
images with mkfs.fat and mtools, runs vexa there and checks exit codes, output, report
pages, `fsck.fat -n` and every file's content.

    cli_test.py --stage DIR GROUP       GROUP: usage, edges, errors, analyze, defrag,
                                        optimize, small-volumes, json, stop-analysis,
                                        stop-defrag, stop-in-depth, demo, left-fragmented
    cli_test.py --win-stage DIR wine    vexa.exe under wine64 (DIR holds vexa.exe and
                                        vexa.dll); skipped when DIR has no vexa.exe

Exit 0 passed, 1 failed, 77 skipped (a tool is missing).
"""
import argparse
import hashlib
import html.parser
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
MB = 1024 * 1024


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def need_tools(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)


# --- images --------------------------------------------------------------------------

def mtools_env():
    env = dict(os.environ)
    env["MTOOLS_SKIP_CHECK"] = "1"
    return env


def run_tool(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=mtools_env())


def make_fragmented_image(path, work, seed=1, volume_mib=96, small_files=3000, large_files=150,
                          large_bytes=(3000, 9000)):
    """A FAT32 image of 512-byte clusters (96 MiB unless told; made sparse) whose larger
    files lie in many pieces: small files fill the start of the volume, every other one
    is deleted, the free-cluster hint is cleared so mtools allocates from the start, and
    the larger files fill the holes."""
    rng = random.Random(seed)
    fill = os.path.join(work, "fill")
    tree = os.path.join(work, "tree")
    for folder in (fill, os.path.join(tree, "sub", "deeper")):
        os.makedirs(folder, exist_ok=True)
    for i in range(small_files):
        with open(os.path.join(fill, "f%05d.txt" % i if small_files > 10000 else "f%04d.txt" % i), "wb") as f:
            f.write(rng.randbytes(rng.randint(100, 500)))
    folders = [tree, os.path.join(tree, "sub"), os.path.join(tree, "sub", "deeper")]
    for i in range(large_files):
        name = "Big file %03d.bin" % i if i % 5 == 0 else "b%03d.bin" % i
        with open(os.path.join(folders[i % 3], name), "wb") as f:
            f.write(rng.randbytes(rng.randint(*large_bytes)))
    with open(path, "wb") as f:
        f.truncate(volume_mib * MB)
    run_tool("mkfs.fat", "-F", "32", "-s", "1", "-S", "512", "-n", "CARD", path)
    run_tool("mcopy", "-i", path, "-s", fill, "::")
    run_tool("mdel", "-i", path, *["::fill/" + name for name in sorted(os.listdir(fill))[::2]])
    with open(path, "r+b") as f:  # FSInfo next-free hint: unknown
        f.seek(512 + 0x1EC)
        f.write(b"\xff\xff\xff\xff")
    run_tool("mcopy", "-i", path, "-s", tree, "::")
    shutil.rmtree(fill)
    shutil.rmtree(tree)


def make_large_image(path, work, volume_mib=8192):
    """A sparse FAT32 image of 512-byte clusters (8 GiB unless told) with 40 small files:
    its analysis takes long enough for a stop to arrive while it runs."""
    tree = os.path.join(work, "large")
    os.makedirs(tree, exist_ok=True)
    for i in range(40):
        with open(os.path.join(tree, "file%02d.dat" % i), "wb") as f:
            f.write(bytes([i]) * (i * 700 + 1))
    with open(path, "wb") as f:
        f.truncate(volume_mib * MB)
    run_tool("mkfs.fat", "-F", "32", "-s", "1", "-S", "512", path)
    run_tool("mcopy", "-i", path, "-s", tree, "::")
    shutil.rmtree(tree)


def make_cross_linked_image(path, work):
    """A FAT16 image whose two files share a cluster: fsck.fat reports it, and the FAT
    provider opens it read-only."""
    with open(path, "wb") as f:
        f.truncate(64 * MB)
    run_tool("mkfs.fat", "-F", "16", "-s", "4", path)
    for name, size in (("A.TXT", 4000), ("B.TXT", 4000)):
        source = os.path.join(work, name)
        with open(source, "wb") as f:
            f.write(b"x" * size)
        run_tool("mcopy", "-i", path, source, "::" + name)
    with open(path, "r+b") as f:
        boot = f.read(64)
        sector = int.from_bytes(boot[11:13], "little")
        reserved = int.from_bytes(boot[14:16], "little")
        fats = boot[16]
        fat_sectors = int.from_bytes(boot[22:24], "little")
        # A.TXT holds clusters 2 and 3: point its last one at B.TXT's first (4).
        for copy in range(fats):
            f.seek((reserved + copy * fat_sectors) * sector + 3 * 2)
            f.write((4).to_bytes(2, "little"))


def make_small_fragmented_image(path, work, kind, seed=4):
    """A small image whose larger files lie in pieces: a 1.44 MB FAT12 floppy ("floppy")
    or a 32 MiB FAT16 card ("card"). Small files fill a folder, every other one is
    deleted, and the larger files fill the holes. Both have far less than 50 MiB free."""
    rng = random.Random(seed)
    fill = os.path.join(work, "fill-" + kind)
    tree = os.path.join(work, "tree-" + kind)
    os.makedirs(fill, exist_ok=True)
    os.makedirs(os.path.join(tree, "docs"), exist_ok=True)
    if kind == "floppy":
        size, mkfs, small, count, big = 1474560, ["-F", "12"], (100, 500), 600, (3000, 9000)
    else:
        size, mkfs, small, count, big = 32 * MB, ["-F", "16", "-s", "4"], (500, 2000), 1200, (6000, 40000)
    for i in range(count):
        with open(os.path.join(fill, "f%04d.txt" % i), "wb") as f:
            f.write(rng.randbytes(rng.randint(*small)))
    for i in range(40):
        folder = tree if i % 2 else os.path.join(tree, "docs")
        with open(os.path.join(folder, "part%02d.bin" % i), "wb") as f:
            f.write(rng.randbytes(rng.randint(*big)))
    with open(path, "wb") as f:
        f.truncate(size)
    run_tool("mkfs.fat", *mkfs, "-n", kind.upper(), path)
    run_tool("mcopy", "-i", path, "-s", fill, "::")
    run_tool("mdel", "-i", path, *["::%s/f%04d.txt" % (os.path.basename(fill), i) for i in range(0, count, 2)])
    run_tool("mcopy", "-i", path, "-s", tree, "::")
    shutil.rmtree(fill)
    shutil.rmtree(tree)


def make_damaged_image(path, work):
    """A FAT16 image with one cross-link, two lost clusters and FAT copies that differ."""
    make_cross_linked_image(path, work)
    with open(path, "r+b") as f:
        boot = f.read(64)
        sector = int.from_bytes(boot[11:13], "little")
        reserved = int.from_bytes(boot[14:16], "little")
        fat_sectors = int.from_bytes(boot[22:24], "little")
        first, second = reserved * sector, (reserved + fat_sectors) * sector
        for copy in (first, second):  # a lost chain 100 -> 101 in both copies
            f.seek(copy + 100 * 2)
            f.write((101).to_bytes(2, "little") + (0xFFFF).to_bytes(2, "little"))
        f.seek(second + 200 * 2)  # the second copy alone claims cluster 200
        f.write((0xFFFF).to_bytes(2, "little"))


def file_hashes(image, work):
    """Content hash of every file of the image, by path, read back with mtools."""
    out = tempfile.mkdtemp(dir=work)
    run_tool("mcopy", "-i", image, "-s", "::*", out)
    hashes = {}
    for root, _, files in os.walk(out):
        for name in files:
            full = os.path.join(root, name)
            with open(full, "rb") as f:
                hashes[os.path.relpath(full, out)] = hashlib.sha256(f.read()).hexdigest()
    shutil.rmtree(out)
    return hashes


def fragmented_files(image):
    """Files of the image whose clusters form more than one run, as mtools sees them."""
    listing = subprocess.run(["mdir", "-i", image, "-/", "-b", "::"], check=True, capture_output=True, text=True,
                             env=mtools_env()).stdout.splitlines()
    files = [line for line in listing if line.startswith("::") and not line.endswith("/")]
    chains = subprocess.run(["mshowfat", "-i", image, *files], check=True, capture_output=True, text=True,
                            env=mtools_env()).stdout.splitlines()
    return [line.split(" <")[0] for line in chains if line.count("<") > 1]


def image_hash(image):
    digest = hashlib.sha256()
    with open(image, "rb") as f:
        for block in iter(lambda: f.read(MB), b""):
            digest.update(block)
    return digest.hexdigest()


def check_fsck_clean(image):
    result = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
    check(result.returncode == 0, "fsck.fat -n %s failed:\n%s%s" % (image, result.stdout, result.stderr))


# --- the program ---------------------------------------------------------------------

class Install:
    """A private copy of the stage folder."""

    def __init__(self, stage, work):
        self.folder = os.path.join(work, "install")
        shutil.copytree(stage, self.folder, ignore=shutil.ignore_patterns(
            "*report[0-9]*.html", "*reporttop.html", "diskdata", "defragdate", "FileList.txt", "volumes.ini"))
        self.program = os.path.join(self.folder, "vexa")

    def page(self, name):
        return os.path.join(self.folder, name)

    def run(self, *args, env=None, timeout=600):
        environment = vexa_environment(os.environ if env is None else env)
        return subprocess.run([self.program, *args], capture_output=True, text=True, env=environment,
                              timeout=timeout)


def vexa_environment(base):
    """The environment vexa runs in: no volume map from the caller, and the slow card
    preloaded when the test asks for it (VEXA_TEST_SLOW_CARD names the library)."""
    environment = dict(base)
    environment.pop("VEXA_VOLUMES", None)
    slow = environment.get("VEXA_TEST_SLOW_CARD", "")
    if slow:
        environment["LD_PRELOAD"] = slow
        # A sanitizer runtime need not come first when a test preloads a library.
        environment["ASAN_OPTIONS"] = ":".join(filter(None, [environment.get("ASAN_OPTIONS", ""),
                                                            "verify_asan_link_order=0"]))
    return environment


def run_and_stop(install, args, trigger, work, signals=(signal.SIGINT,), env=None):
    """Runs vexa with its progress in plain lines; at the first line starting with
    `trigger` (or one of a tuple of them) sends `signals`, one after the other. Returns
    (exit code, stdout, stderr)."""
    err_path = os.path.join(work, "stderr.txt")
    with open(err_path, "w") as err:
        env = vexa_environment(os.environ if env is None else env)
        process = subprocess.Popen([install.program, *args], stdout=subprocess.PIPE, stderr=err, text=True, env=env)
        lines = []
        sent = False
        for line in process.stdout:
            lines.append(line)
            if not sent and line.startswith(trigger):
                for number in signals:
                    process.send_signal(number)
                sent = True
        code = process.wait(timeout=600)
    with open(err_path) as err:
        errors = err.read()
    check(sent, "no progress line started with %r:\n%s" % (trigger, "".join(lines)))
    return code, "".join(lines), errors


# --- report pages, read independently of the program ---------------------------------

class PageParser(html.parser.HTMLParser):
    """Collects, per table, the header text and the texts of each row's div elements."""

    def __init__(self):
        super().__init__()
        self.tables = []  # [header, [row cells]]
        self.in_div = self.in_header = False
        self.row = None
        self.foot = False
        self.text = ""

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table":
            self.tables.append(["", []])
        elif tag == "tr":
            self.row, self.foot = [], False
        elif tag == "td":
            if attrs.get("class") == "header":
                self.in_header, self.text = True, ""
            if attrs.get("class") == "foot":
                self.foot = True
        elif tag == "div" and self.row is not None:
            self.in_div, self.text = True, ""

    def handle_endtag(self, tag):
        if tag == "div" and self.in_div:
            self.row.append(self.text.strip())
            self.in_div = False
        elif tag == "td" and self.in_header:
            self.tables[-1][0] = self.text.strip()
            self.in_header = False
        elif tag == "tr" and self.row is not None:
            if self.foot and self.tables:
                self.tables[-1][1].append(self.row)
            self.row = None

    def handle_data(self, data):
        self.text += data


def read_page(path):
    parser = PageParser()
    with open(path, encoding="latin-1") as f:
        parser.feed(f.read())
    figures, details = {}, {}
    for header, rows in parser.tables:
        for cells in rows:
            if "Summary" in header:
                for label, value in zip(cells[0::2], cells[1::2]):
                    label = label.rstrip(":").strip()
                    if label:
                        figures[label] = value
            else:
                details.setdefault(header, []).append(cells)
    return figures, details


LABEL_KEYS = {
    "Target volume": "targetVolume", "File system": "fileSystem", "Size": "size",
    "Total clusters": "totalClusters", "Used": "used", "Used clusters": "usedClusters",
    "Scanned directories": "scannedDirectories", "Byte per cluster": "bytesPerCluster",
    "Scanned files": "scannedFiles", "Starting time": "startingTime",
    "Small Fragment files": "smallFragmentFiles", "Finishing time": "finishingTime",
    "Big Fragment files": "bigFragmentFiles", "Used time": "usedTime", "Report": "verdict",
    "Defragged files": "defraggedFiles", "Fragment before": "fragmentBefore", "Fragment now": "fragmentNow",
}


def check_section_matches_page(section, page_path):
    """Every figure of the page is in the JSON section with the same value, and the
    section's file rows are the page's detail rows."""
    check(os.path.samefile(section["page"], page_path), "JSON names page %s, not %s" % (section["page"], page_path))
    figures, details = read_page(page_path)
    check(len(figures) >= 14, "page %s has too few figures: %s" % (page_path, figures))
    for label, value in figures.items():
        key = LABEL_KEYS[label]
        check(key in section, "JSON lacks %s (%s)" % (key, label))
        check(str(section[key]) == value, "JSON %s is %r, the page says %r" % (key, section[key], value))
    rows = [cells for header, table in details.items() if "Optimization" not in header for cells in table]
    check(len(section["files"]) == len(rows), "JSON lists %d files, the page %d" % (len(section["files"]), len(rows)))
    for entry, cells in zip(section["files"], rows):
        check(entry["path"] == cells[0], "JSON file %r, page row %r" % (entry["path"], cells[0]))
        check(str(entry["clusters"]) == cells[3], "clusters of %s: JSON %r, page %r" % (cells[0], entry["clusters"], cells[3]))
    optimized = [cells for header, table in details.items() if "Optimization" in header for cells in table]
    if "optimizedFiles" in section and section["optimizedFiles"] is not None:
        check([e["path"] for e in section["optimizedFiles"]] == [c[0] for c in optimized], "in-depth rows differ")


# --- groups --------------------------------------------------------------------------

def group_usage(install, work):
    for args in ([], ["frobnicate", "C"], ["analyze"], ["analyze", "C", "E"], ["analyze", "C1"], ["--bogus", "C"],
                 ["analyze", "C", "--volume"], ["analyze", "C", "--volume", "C"], ["analyze", "C", "--volume", "A=x.img"],
                 ["demo", "a", "b"], ["--json", "demo"]):
        result = install.run(*args)
        check(result.returncode == 1, "%s: exit %d, not 1" % (args, result.returncode))
        # The one line that says what is wrong, and where help is: nothing to scroll it away.
        lines = result.stderr.splitlines()
        check(len(lines) == 2 and lines[0].startswith("vexa: ") and lines[1] == "Try 'vexa --help'.",
              "%s: not one line and the pointer to --help:\n%s" % (args, result.stderr))
        check(result.stdout == "", "%s: bad usage printed to standard output" % args)
    result = install.run("--help")
    check(result.returncode == 0 and "Usage: vexa" in result.stdout and "Examples:" in result.stdout, "--help")
    check(os.path.realpath(install.folder) in result.stdout, "--help does not say where reports land")
    result = install.run("--version")
    check(result.returncode == 0 and result.stdout.startswith("vexa "), "--version: %r" % result.stdout)
    check(install.run("-v").stdout == result.stdout, "-v is not --version")
    check(install.run("help").stdout == install.run("--help").stdout, "help is not --help")


def group_errors(install, work):
    good = os.path.join(work, "good.img")
    make_fragmented_image(good, work)
    before = image_hash(good)
    corrupt = os.path.join(work, "corrupt.img")
    make_cross_linked_image(corrupt, work)
    not_fat = os.path.join(work, "notfat.img")
    with open(not_fat, "wb") as f:
        f.write(b"\0" * MB)

    def expect(args, code, *texts):
        result = install.run(*args)
        check(result.returncode == code, "%s: exit %d, not %d\n%s" % (args, result.returncode, code, result.stderr))
        for text in texts:
            check(text in result.stderr, "%s: %r not in standard error:\n%s" % (args, text, result.stderr))
        return result

    expect(["analyze", "Q"], 2, "volume Q: does not exist")
    expect(["analyze", "A"], 2, "volume A: does not exist")
    expect(["analyze", "C", "--volume", "C=" + os.path.join(work, "missing.img")], 2, "not found")
    expect(["analyze", "C", "--volume", "C=" + not_fat], 2, "not a FAT file system")
    expect(["defrag", "C", "--volume", "C=" + corrupt], 2, "cannot be defragmented", "inconsistent", "fsck.fat")
    expect(["optimize", "C", "--volume", "C=" + corrupt], 2, "inconsistent")
    expect(["defrag", "CE", "--volume", "C=" + good, "--volume", "E=" + good], 2,
           "C and E are the same volume (good.img)")
    # Bad input never starts a job half-way: the good volume of the pair is untouched.
    expect(["defrag", "CE", "--volume", "C=" + good, "--volume", "E=" + corrupt], 2, "volume E:")
    expect(["CQ", "--volume", "C=" + good], 2, "volume Q: does not exist")
    check(image_hash(good) == before, "a refused job changed the good image")
    for page in ("analysisreport1.html", "defragreport1.html", "defragreporttop.html"):
        check(not os.path.exists(install.page(page)), "a refused job wrote " + page)
    # Too little free space: the engine's message is printed and the exit status says so.
    full = os.path.join(work, "full.img")
    with open(full, "wb") as f:
        f.truncate(40 * MB)
    run_tool("mkfs.fat", "-F", "16", full)
    expect(["defrag", "C", "--volume", "C=" + full], 2, "Not enough disk space, volume C can not be defragged.")
    # An inconsistent volume is still analysed, read-only, and says so.
    corrupt_before = image_hash(corrupt)
    result = expect(["analyze", "C", "--volume", "C=" + corrupt], 0, "analysis only")
    check(os.path.exists(install.page("analysisreport1.html")), "no analysis page for the read-only volume")
    check(image_hash(corrupt) == corrupt_before, "analysis changed the read-only image")
    # A volume map beside the engine serves letters too; --volume goes on top of it.
    with open(install.page("volumes.ini"), "w") as f:
        f.write("[volumes]\nC=%s\nE=%s\n" % (corrupt, good))
    expect(["defrag", "C"], 2, "inconsistent")
    expect(["analyze", "C", "--volume", "C=" + good], 0)
    os.remove(install.page("volumes.ini"))


def group_edges(install, work):
    """Input a new user gets wrong: mistyped words, folders, protected images, bad maps,
    damaged file systems, an engine folder nobody may write, and the JSON of failures."""
    card = os.path.join(work, "card.img")
    make_small_fragmented_image(card, work, "card")
    other = os.path.join(work, "other.img")
    make_small_fragmented_image(other, work, "floppy")
    before = image_hash(card)

    def expect(args, code, *texts, stream="stderr", env=None):
        result = install.run(*args, env=env)
        output = getattr(result, stream)
        check(result.returncode == code, "%s: exit %d, not %d\n%s" % (args, result.returncode, code, result.stderr))
        for text in texts:
            check(text in output, "%s: %r not in %s:\n%s" % (args, text, stream, output))
        return result

    # Bare words that are not capitals never start a job; the message says what was meant.
    expect(["ce", "--volume", "C=" + card, "--volume", "E=" + other], 1, "unknown command \"ce\"", "vexa CE")
    # "vexa LS" would defragment L and S: never suggested for "ls".
    result = expect(["ls", "--volume", "L=" + card], 1, "commands are words", "drive letters alone are capitals")
    check("vexa LS" not in result.stderr, "ls: suggests a defragmentation of L and S:\n" + result.stderr)
    expect(["analyze", "C", "--volume", "C=" + card, "--volume", "C=" + other], 1, "--volume C= is given twice")
    expect(["rm", "--volume", "R=" + card], 1, "unknown command \"rm\"")
    expect(["analyse", "C", "--volume", "C=" + card], 1, "did you mean \"analyze\"")
    check(image_hash(card) == before, "a mistyped word changed the image")
    check(not os.path.exists(install.page("analysisreport1.html")), "a mistyped word ran a job")
    expect(["defrag", "c", "--volume", "C=" + other], 2, "Not enough disk space")  # lower case after a command
    expect(["-qh"], 0, "Usage: vexa", "--min-free SIZE", "at least 50 MiB free", stream="stdout")
    expect(["-V"], 0, "vexa ", stream="stdout")

    # A folder is no image; a write-protected image is only read, even by root.
    expect(["analyze", "C", "--volume", "C=" + work], 2, "is a folder, not an image file or device")
    os.chmod(card, 0o444)
    expect(["defrag", "C", "--volume", "C=" + card], 2, "write-protected", "cannot be defragmented")
    expect(["analyze", "C", "--volume", "C=" + card], 0, "analysis only")
    check(image_hash(card) == before, "a write-protected image was changed")
    os.chmod(card, 0o644)

    # The volume map says which lines it passes over, and that a named map is missing.
    with open(install.page("volumes.ini"), "w") as f:
        f.write("[volumes]\nC=%s\nB=floppy.img\njust words\nF=\n" % card)
    result = expect(["analyze", "C"], 0)
    for text in ("volumes.ini line 3: \"B\" is not a drive letter from C to Z",
                 "volumes.ini line 4: \"just words\" has no \"=\"", "volumes.ini line 5: no path for F:"):
        check(text in result.stderr, "map warning %r missing:\n%s" % (text, result.stderr))
    os.remove(install.page("volumes.ini"))
    env = dict(os.environ, VEXA_VOLUMES=os.path.join(work, "nothere.ini"))
    result = subprocess.run([install.program, "analyze", "C", "--volume", "C=" + card], capture_output=True, text=True,
                            env=env)
    check(result.returncode == 0 and "nothere.ini, which cannot be read" in result.stderr,
          "no warning about a missing VEXA_VOLUMES file:\n" + result.stderr)

    # Damage is named and counted.
    damaged = os.path.join(work, "damaged.img")
    make_damaged_image(damaged, work)
    fsck = subprocess.run(["fsck.fat", "-n", damaged], capture_output=True, text=True)
    check(fsck.returncode != 0, "fsck.fat finds nothing wrong with the damaged image")
    expect(["defrag", "C", "--volume", "C=" + damaged], 2, "inconsistent", "2 lost clusters",
           "1 cross-linked file", "1 FAT copy that differs", "fsck.fat")

    # Too little free space: the engine's line, then what is needed and what there is.
    result = expect(["defrag", "C", "--volume", "C=" + other], 2, "Not enough disk space, volume C can not be defragged.",
                    "defragmentation needs 50 MiB free; C has ")
    check("C: not defragmented: " in result.stdout, "the summary hides the reason:\n" + result.stdout)

    # JSON: one object per requested volume, failures included, numbers as numbers.
    not_fat = os.path.join(work, "notfat.img")
    with open(not_fat, "wb") as f:
        f.write(b"\0" * MB)
    result = expect(["--json", "--quiet", "defrag", "CDEF", "--volume", "C=" + card, "--volume", "D=" + damaged,
                     "--volume", "E=" + not_fat], 2)
    objects = [json.loads(line) for line in result.stdout.splitlines()]
    check([o["volume"] for o in objects] == ["C", "D", "E", "F"], "not one object per volume:\n" + result.stdout)
    check("not started" in objects[0]["error"], "the good volume of a refused job: %r" % objects[0]["error"])
    check("inconsistent: " in objects[1]["error"] and "1 cross-linked file" in objects[1]["error"], objects[1]["error"])
    check("not a FAT file system" in objects[2]["error"], objects[2]["error"])
    check("does not exist" in objects[3]["error"], objects[3]["error"])
    check(all(o["analysis"] is None and o["defragmentation"] is None for o in objects), "pages for a refused job")
    # With a 2 MiB minimum the card (about 28 MiB free) is done and the floppy (under 1 MiB) is not.
    result = expect(["--json", "--quiet", "defrag", "CE", "--volume", "C=" + card, "--volume", "E=" + other,
                     "--min-free", "2M"], 2)
    card_json, other_json = [json.loads(line) for line in result.stdout.splitlines()]
    check(card_json["error"] is None and card_json["defragmentation"] is not None, str(card_json)[:300])
    check("Not enough disk space, volume E" in other_json["error"], other_json["error"])
    check("defragmentation needs 2 MiB free; E has " in other_json["error"], other_json["error"])
    check(other_json["sizeBytes"] == other_json["usedBytes"] + other_json["freeBytes"], str(other_json)[:300])
    check(1400000 < other_json["sizeBytes"] < 1474560 and MB // 2 < other_json["freeBytes"] < 2 * MB,
          "floppy sizes in bytes: %s" % str(other_json)[:300])
    analysis, defrag = card_json["analysis"], card_json["defragmentation"]
    fragmented = analysis["smallFragmentFiles"] + analysis["bigFragmentFiles"]
    check(analysis["fragmentedFiles"] == fragmented > 0, "fragmented files: %r" % analysis.get("fragmentedFiles"))
    share = round(100.0 * fragmented / analysis["scannedFiles"], 2)
    check(abs(analysis["fragmentedFilesPercent"] - share) <= 0.0051, "share %r, not %r" % (analysis["fragmentedFilesPercent"], share))
    check(defrag["fragmentNowPercent"] == 0 and defrag["fragmentNow"] == "0.00%", str(defrag)[:400])
    before_text = defrag["fragmentBefore"]
    expected = None if not before_text.endswith("%") else float(before_text.rstrip("%"))
    check(defrag["fragmentBeforePercent"] == expected, "before %r beside %r" % (defrag["fragmentBeforePercent"], before_text))

    # An engine folder the user cannot write: nothing runs, and the reason is given.
    card_before = image_hash(card)
    pages = sorted(os.listdir(install.folder))
    os.chmod(work, 0o755)
    os.chmod(card, 0o666)
    os.chmod(install.folder, 0o555)
    try:
        command = [install.program, "defrag", "C", "--volume", "C=" + card]
        if os.geteuid() == 0:  # root writes anywhere: run as nobody instead
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        result = subprocess.run(command, capture_output=True, text=True, env=dict(os.environ, HOME=work))
    finally:
        os.chmod(install.folder, 0o755)
    check(result.returncode == 2, "unwritable folder: exit %d\n%s" % (result.returncode, result.stderr))
    check("is not writable: reports and state cannot be saved" in result.stderr, result.stderr)
    check(install.folder in result.stderr, "the folder is not named:\n" + result.stderr)
    check(image_hash(card) == card_before, "a job ran although its pages could not be saved")
    check(sorted(os.listdir(install.folder)) == pages, "files appeared in the unwritable folder")
    # check only reads: it runs from that folder all the same.
    os.chmod(install.folder, 0o555)
    try:
        command = [install.program, "check", "C", "--volume", "C=" + card]
        if os.geteuid() == 0:
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + command
        result = subprocess.run(command, capture_output=True, text=True, env=dict(os.environ, HOME=work))
    finally:
        os.chmod(install.folder, 0o755)
    check(result.returncode in (0, 5) and "files checked" in result.stdout,
          "check from an unwritable folder: exit %d\n%s%s" % (result.returncode, result.stdout, result.stderr))
    check(sorted(os.listdir(install.folder)) == pages, "check wrote into the unwritable folder")


def group_map(install, work):
    """vexa map on an image small enough for one cluster per cell: the exact text through
    a pipe (the engine's codes as letters, the legend counting them), the colours on a
    terminal, the JSON codes, and --map on jobs."""
    image = os.path.join(work, "map.img")
    with open(image, "wb") as f:
        f.truncate(1000 * 512)
    run_tool("mkfs.fat", "-F", "12", "-s", "1", "-r", "64", "-f", "1", image)
    host = os.path.join(work, "map")
    os.makedirs(host)
    # A (10 clusters), then 24 files of one cluster, every other one deleted; B (14
    # clusters) fills the 12 holes and goes on after them: more pieces than the engine's
    # map counts as merely split.
    names = ["A.BIN"] + ["S%02d.BIN" % i for i in range(24)]
    for name in names:
        with open(os.path.join(host, name), "wb") as f:
            f.write(b"a" * (10 * 512) if name == "A.BIN" else b"s" * 512)
    run_tool("mcopy", "-i", image, *[os.path.join(host, n) for n in names], "::")
    run_tool("mdel", "-i", image, *["::S%02d.BIN" % i for i in range(0, 24, 2)])
    with open(os.path.join(host, "B.BIN"), "wb") as f:
        f.write(b"b" * (14 * 512))
    run_tool("mcopy", "-i", image, os.path.join(host, "B.BIN"), "::B.BIN")
    b_runs = mshowfat_runs_of(image, "B.BIN")
    check(len(b_runs) == 13 and b_runs[0][0] == 12, "B.BIN does not lie as planned: %s" % b_runs)
    with open(image, "rb") as f:
        boot = f.read(64)
    reserved = int.from_bytes(boot[14:16], "little")
    root_sectors = int.from_bytes(boot[17:19], "little") * 32 // 512
    total = (int.from_bytes(boot[19:21], "little") - reserved - boot[16] * int.from_bytes(boot[22:24], "little")
             - root_sectors)
    check(total <= 1000, "the map image has %d clusters: more than one per cell" % total)

    result = install.run("--json", "map", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "map --json: exit %d\n%s" % (result.returncode, result.stderr))
    answer = json.loads(result.stdout)
    codes = answer["map"]
    check(len(codes) == 1000 and answer["clustersPerCell"] == 1 and answer["clusters"] == total and
          answer["fileSystem"] == "FAT12" and answer["letter"] == "C", str(answer)[:300])
    # One cluster per cell: cell k holds cluster k + 1. A starts at cluster 2, B's pieces
    # at 12 (a hole), 14, ...; nothing lies past B's last cluster.
    check(codes[1] == 4, "A's first cell is not contiguous: %s" % codes[:20])
    check(codes[b_runs[0][0] - 1] == 5 and codes[b_runs[1][0] - 1] == 5, "B's pieces are not fragmented: %s" % codes[:40])
    check(all(c == 0 for c in codes[b_runs[-1][1]:]), "cells past the last file are not free")

    letters = {0: ".", 1: "!", 2: "s", 3: "+", 4: "o", 5: "#"}
    rows = ["".join(letters[c] for c in codes[r * 50:(r + 1) * 50]) for r in range(20)]
    legend = [("#", "Fragmented", 5), ("!", "Fragmented (recently defragmented)", 1), ("+", "Partly contiguous", 3),
              ("o", "Contiguous", 4), ("s", "System", 2), (".", "Free", 0)]
    expected = ("Cluster map of C: FAT12, %s in %d clusters of 512 bytes; 1 cluster per cell\n" % (
        size_text(total * 512), total) + "\n".join(rows) + "\n\n" + "".join(
        "  %s %-36s %4d %s\n" % (mark, name, codes.count(code), "cell" if codes.count(code) == 1 else "cells")
        for mark, name, code in legend))
    result = install.run("map", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "map: exit %d\n%s" % (result.returncode, result.stderr))
    check(result.stdout == expected, "map through a pipe:\n%s\nexpected:\n%s" % (result.stdout, expected))

    # On a terminal: 24-bit colour when COLORTERM says so, 256 for xterm-256color, and
    # letters again with NO_COLOR.
    env = dict(os.environ, COLORTERM="truecolor", TERM="xterm-256color")
    env.pop("NO_COLOR", None)
    command = [install.program, "map", "C", "--volume", "C=" + image]
    shown = run_on_terminal(command, env)
    check("\x1b[38;2;49;179;70m" in shown and "\x1b[38;2;255;114;0m" in shown and "\u25a0" in shown,
          "no 24-bit colours on a terminal:\n%r" % shown[:400])
    shown = run_on_terminal(command, dict(env, NO_COLOR="1"))
    check("\x1b[38" not in shown and rows[0] in shown, "NO_COLOR: %r" % shown[:400])
    del env["COLORTERM"]
    check("\x1b[38;5;" in run_on_terminal(command, env), "no 256 colours for xterm-256color")

    # --map on a defragmentation: the map before (B in pieces) and after (B whole).
    result = install.run("--json", "--quiet", "defrag", "C", "--map", "--min-free", "0", "--volume", "C=" + image)
    answer = json.loads(result.stdout)
    check(answer["mapBefore"] == codes, "mapBefore is not the map of the analysis")
    check(5 not in answer["map"] and answer["map"] != codes, "map after: %s" % answer["map"][:40])
    result = install.run("analyze", "C", "--map", "--volume", "C=" + image)
    check(result.returncode == 0 and "Cluster map of C: FAT12" in result.stdout and "  . Free" in result.stdout,
          result.stdout[-600:])
    check_fsck_clean(image)


def mshowfat_runs_of(image, path):
    out = subprocess.run(["mshowfat", "-i", image, "::" + path], check=True, capture_output=True, text=True,
                         env=mtools_env()).stdout
    runs = []
    for part in out.split("<")[1:]:
        first, _, last = part.split(">")[0].partition("-")
        runs.append((int(first), int(last or first)))
    return runs


def size_text(size):
    """vexa's size text: bytes below 1 KiB, else tenths cut (never rounded up)."""
    if size < 1024:
        return "%d bytes" % size
    units = ["KiB", "MiB", "GiB", "TiB"]
    unit, scale = 0, 1024
    while unit < 3 and size // scale >= 1024:
        scale *= 1024
        unit += 1
    tenths = size // (scale // 1024) * 10 // 1024
    return ("%d %s" % (tenths // 10, units[unit])) if tenths % 10 == 0 else (
        "%d.%d %s" % (tenths // 10, tenths % 10, units[unit]))


def run_on_terminal(command, env):
    """Standard output of `command` run on a pseudo-terminal, as text."""
    import pty
    main, secondary = pty.openpty()
    process = subprocess.Popen(command, stdout=secondary, stderr=subprocess.DEVNULL, env=vexa_environment(env))
    os.close(secondary)
    chunks = []
    while True:
        try:
            data = os.read(main, 65536)
        except OSError:
            break
        if not data:
            break
        chunks.append(data)
    process.wait()
    os.close(main)
    return b"".join(chunks).decode("utf-8", "replace")


def group_small_volumes(install, work):
    """--min-free: a floppy and a 32 MiB card, far below the engine's 50 MiB, are
    defragmented only when the user lowers the minimum."""
    for kind, minimum in (("floppy", "64K"), ("card", "1M")):
        image = os.path.join(work, kind + ".img")
        make_small_fragmented_image(image, work, kind)
        hashes = file_hashes(image, work)
        pieces = fragmented_files(image)
        check(len(pieces) >= 5, "the %s fixture is not fragmented: %s" % (kind, pieces))
        before = image_hash(image)
        result = install.run("defrag", "C", "--volume", "C=" + image)
        check(result.returncode == 2 and "defragmentation needs 50 MiB free" in result.stderr,
              "%s without --min-free: exit %d\n%s" % (kind, result.returncode, result.stderr))
        check("--min-free SIZE lowers this rule" in result.stderr, "the way out is not named:\n" + result.stderr)
        check(image_hash(image) == before, "a refused %s was changed" % kind)
        # A minimum above what the volume has is still refused, with both numbers.
        result = install.run("defrag", "C", "--volume", "C=" + image, "--min-free", "100M")
        check(result.returncode == 2 and "defragmentation needs 100 MiB free; C has " in result.stderr, result.stderr)
        result = install.run("optimize" if kind == "card" else "defrag", "C", "--volume", "C=" + image,
                             "--min-free", minimum)
        check(result.returncode == 0, "%s with --min-free %s: exit %d\n%s\n%s" % (
            kind, minimum, result.returncode, result.stdout, result.stderr))
        check("C: defragmented" in result.stdout, "no summary:\n" + result.stdout)
        check_fsck_clean(image)
        check(file_hashes(image, work) == hashes, "%s: file contents changed" % kind)
        check(fragmented_files(image) == [], "%s: still in pieces: %s" % (kind, fragmented_files(image)))


def fragmented_count(install, image):
    result = install.run("--json", "--quiet", "analyze", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "analysis for the count failed: %s" % result.stderr)
    analysis = json.loads(result.stdout.splitlines()[0])["analysis"]
    return analysis["bigFragmentFiles"] + analysis["smallFragmentFiles"]


def group_analyze(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work)
    before = image_hash(image)
    result = install.run("analyze", "c:", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    check("C: analysed" in result.stdout and "badly fragmented" in result.stdout, "no summary:\n" + result.stdout)
    check("Report: " + install.page("analysisreport.html") in result.stdout, "no entry page:\n" + result.stdout)
    for page in ("analysisreport1.html", "analysisreporttop.html"):
        check(os.path.exists(install.page(page)), page + " not written")
    figures, details = read_page(install.page("analysisreport1.html"))
    check(figures["Target volume"] == "C:\\" and figures["File system"] == "FAT32", "page figures: %s" % figures)
    check(int(figures["Scanned files"]) == 1650, "scanned %s files, the image holds 1650" % figures["Scanned files"])
    check(image_hash(image) == before, "analysis changed the image")
    # Two volumes: one page each, in the order given.
    other = os.path.join(work, "other.img")
    make_large_image(other, work)
    result = install.run("--quiet", "analyze", "EC", "--volume", "C=" + image, "--volume", "E=" + other)
    check(result.returncode == 0 and result.stdout == "", "--quiet printed:\n" + result.stdout)
    check(read_page(install.page("analysisreport1.html"))[0]["Target volume"] == "E:\\", "page 1 is not E")
    check(read_page(install.page("analysisreport2.html"))[0]["Target volume"] == "C:\\", "page 2 is not C")


def check_defragmented(install, image, hashes, optimized):
    check_fsck_clean(image)
    check(file_hashes(image, os.path.dirname(image)) == hashes, "file contents changed")
    figures, details = read_page(install.page("defragreport1.html"))
    check(int(figures["Defragged files"]) > 0, "nothing defragmented: %s" % figures)
    check(any("Optimization" in h for h in details) == optimized, "in-depth table present: %s" % list(details))
    check(fragmented_files(image) == [], "still in pieces: %s" % fragmented_files(image)[:5])
    # The engine's own second analysis agrees (its badly-fragmented count is 0 anyway
    # right after a defragmentation, so the pieces count is what tells).
    check(fragmented_count(install, image) == 0, "a second analysis still finds fragmented files")


def group_defrag(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work)
    hashes = file_hashes(image, work)
    check(len(fragmented_files(image)) > 50, "the fixture is not fragmented")
    # Letters alone: a quick defragmentation, as a scheduled run starts it.
    result = install.run("C", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    check("Defragmenting  C drive." in result.stdout, "no progress lines:\n" + result.stdout)
    check("C: defragmented" in result.stdout, "no summary:\n" + result.stdout)
    check("Report: " + install.page("defragreport.html") in result.stdout, "no entry page")
    check(os.path.exists(install.page("defragreporttop.html")), "no defragmentation index page")
    check_defragmented(install, image, hashes, optimized=False)


def group_optimize(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work, seed=2)
    hashes = file_hashes(image, work)
    result = install.run("optimize", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    check("In-depth Defragmenting  C drive." in result.stdout, "no in-depth progress:\n" + result.stdout)
    check("in-depth pass moved" in result.stdout, "no in-depth summary:\n" + result.stdout)
    check_defragmented(install, image, hashes, optimized=True)


def group_two_processes(install, work):
    """Two vexa processes started together: on one image one works and the other is
    refused (in use, exit 2, or another job running, exit 4) and the image stays
    fsck-clean with every file intact; on two images the second job is refused."""
    floppy = os.path.join(work, "floppy.img")
    make_small_fragmented_image(floppy, work, "floppy")
    hashes = file_hashes(floppy, work)
    image = os.path.join(work, "r.img")
    env = dict(os.environ)
    env.pop("VEXA_VOLUMES", None)

    def start(*args):
        return subprocess.Popen([install.program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=env)

    refusals = {
        2: "the image is in use by another process",
        4: "Another defragmentation job is running on this computer.",
    }
    rounds = 20
    for n in range(rounds):
        shutil.copyfile(floppy, image)
        first = start("defrag", "C", "--volume", "C=" + image, "--min-free", "0")
        second = start("optimize", "D", "--volume", "D=" + image, "--min-free", "0")
        outcomes = []
        for process in (first, second):
            out, err = process.communicate(timeout=300)
            outcomes.append((process.returncode, out, err))
        codes = sorted(code for code, _, _ in outcomes)
        check(codes[0] == 0, "round %d: neither process worked: %s" % (n, outcomes))
        for code, out, err in outcomes:
            check(code in (0, 2, 4), "round %d: exit %d:\n%s%s" % (n, code, out, err))
            if code != 0:
                check(refusals[code] in err, "round %d: exit %d without saying why:\n%s" % (n, code, err))
        check_fsck_clean(image)
        check(file_hashes(image, work) == hashes, "round %d: file contents changed" % n)

    # Two images at once: one engine job per computer. The first job runs on a slow card
    # (when the test preloads one), so it is still running when the second starts.
    card = os.path.join(work, "card.img")
    make_fragmented_image(card, work, seed=7)
    shutil.copyfile(floppy, image)
    first = subprocess.Popen([install.program, "defrag", "C", "--volume", "C=" + card], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=vexa_environment(os.environ))
    started = first.stdout.readline()  # the first status line: its job runs
    second = start("--json", "analyze", "D", "--volume", "D=" + image)
    out2, err2 = second.communicate(timeout=300)
    out1, err1 = first.communicate(timeout=300)
    out1 = started + out1
    check(first.returncode == 0, "the first job failed:\n%s%s" % (out1, err1))
    check(second.returncode == 4, "the second job was not refused (exit %d):\n%s%s" % (second.returncode, out2, err2))
    check(refusals[4] in err2, "no refusal message:\n" + err2)
    refused = [json.loads(line) for line in out2.splitlines()]
    check(len(refused) == 1 and refused[0]["volume"] == "D" and refused[0]["error"] == refusals[4] and
          refused[0]["analysis"] is None, "--json of the refused job: %r" % out2)
    check_fsck_clean(card)


def group_json(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work, seed=3)
    result = install.run("--json", "analyze", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    lines = result.stdout.splitlines()
    check(len(lines) == 1, "one object per volume expected:\n" + result.stdout)
    volume = json.loads(lines[0])
    check(volume["volume"] == "C" and volume["command"] == "analyze" and volume["stopped"] is False, str(volume)[:300])
    check(volume["defragmentation"] is None, "an analysis has no defragmentation section")
    check(volume["analysis"]["bigFragmentFiles"] > 0, "the fixture has badly fragmented files")
    check_section_matches_page(volume["analysis"], install.page("analysisreport1.html"))

    result = install.run("--json", "optimize", "C", "--volume", "C=" + image)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    volume = json.loads(result.stdout.splitlines()[0])
    check_section_matches_page(volume["analysis"], install.page("analysisreport1.html"))
    defrag = volume["defragmentation"]
    check_section_matches_page(defrag, install.page("defragreport1.html"))
    check(defrag["defraggedFiles"] == len(defrag["files"]) > 0, "defragged count and rows differ")
    check(isinstance(defrag["optimizedFiles"], list), "no in-depth list after optimize")
    # Progress went to standard error, so standard output is JSON alone.
    check("Defragmenting  C drive." in result.stderr, "no progress on standard error")


def stop_outcome(install, work, image, hashes, args, trigger, signals=(signal.SIGINT,), env=None):
    code, out, errors = run_and_stop(install, args, trigger, work, signals, env)
    check(code == 130, "exit %d after the stop, not 130:\n%s\n%s" % (code, out, errors))
    check("stopping at the engine's next check point" in errors, "no stop note:\n" + errors)
    check_fsck_clean(image)
    check(file_hashes(image, work) == hashes, "file contents changed by a stopped job")
    return out, errors


def group_stop_analysis(install, work):
    # Eight volumes before the fragmented one, and report pages written to a slow disk
    # (the slow card's writes, on the engine's folder): each volume's analysis writes its
    # page for tens of milliseconds, so a stop sent when a progress line names one of the
    # volumes after the first (whose page is then written) lands while the analysis
    # worker still has volumes to visit, before it could hand over to the
    # defragmentation.
    check(os.environ.get("VEXA_TEST_SLOW_CARD"), "this group needs the slow card (VEXA_TEST_SLOW_CARD)")
    slow_pages = dict(os.environ, VEXA_SLOW_CARD="50000,1000000,writes", VEXA_SLOW_CARD_FILE=install.folder)
    large = os.path.join(work, "large.img")
    make_large_image(large, work, volume_mib=64)
    letters = "DEFGHIJK"
    args = ["optimize", letters + "C"]
    for letter in letters:
        copy = os.path.join(work, "large-%s.img" % letter)
        subprocess.run(["cp", "--sparse=always", large, copy], check=True)
        args += ["--volume", "%s=%s" % (letter, copy)]
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work)
    args += ["--volume", "C=" + image]
    hashes = file_hashes(image, work)
    before = image_hash(image)
    stop_outcome(install, work, image, hashes, args, tuple("Scanning  %s drive." % l for l in "EFGH"),
                 env=slow_pages)
    check(os.path.exists(install.page("analysisreport1.html")), "the stopped analysis wrote no page")
    check(not os.path.exists(install.page("analysisreport9.html")), "the analysis went on to the last volume")
    check(not os.path.exists(install.page("defragreport1.html")), "a stop in the analysis still defragmented")
    check(image_hash(image) == before, "a stop during the analysis changed the image")


def group_stop_defrag(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work)
    hashes = file_hashes(image, work)
    # SIGTERM stops as Ctrl-C does; the second signal is only told it is already stopping.
    _, errors = stop_outcome(install, work, image, hashes, ["optimize", "C", "--volume", "C=" + image],
                             "Defragmenting  C drive.", (signal.SIGTERM, signal.SIGINT))
    check(errors.count("already stopping") == 1, "the second signal was not answered once:\n" + errors)
    figures, details = read_page(install.page("defragreport1.html"))
    check(not any("Optimization" in h for h in details), "a stop in the walk still ran the in-depth pass")
    check(os.path.exists(install.page("defragreporttop.html")), "no index page after the stop")
    # Every file still in pieces is named as stopped, those never reached included.
    _, out, _ = run_and_stop(install, ["defrag", "C", "--volume", "C=" + image], "Defragmenting  C drive.", work)
    left = sorted(volume_path(p) for p in fragmented_files(image))
    named = sorted(line.split(": ")[0].strip() for line in out.splitlines() if line.startswith("  C:\\"))
    check(left and named == left, "summary names %s, mtools finds %s" % (named[:5], left[:5]))
    check(all(line.endswith("; the job was stopped") for line in out.splitlines() if line.startswith("  C:\\")),
          "a reason other than the stop:\n" + out)


def group_stop_in_depth(install, work):
    image = os.path.join(work, "card.img")
    make_fragmented_image(image, work)
    hashes = file_hashes(image, work)
    out, _ = stop_outcome(install, work, image, hashes, ["optimize", "C", "--volume", "C=" + image],
                          "In-depth Defragmenting  C drive.")
    check("C: defragmented" in out, "no summary after the stop:\n" + out)
    figures, _ = read_page(install.page("defragreport1.html"))
    check(int(figures["Defragged files"]) > 0, "the walk before the stop moved nothing")


def group_demo(install, work):
    folder = os.path.join(work, "demo")
    result = install.run("demo", folder, timeout=1200)
    check(result.returncode == 0, "exit %d:\n%s\n%s" % (result.returncode, result.stdout, result.stderr))
    summary = {}
    for line in result.stdout.splitlines():
        if ":" in line and not line.startswith(" "):
            key, _, value = line.partition(":")
            summary[key.strip()] = value.strip()
    before = int(summary["Fragmented before"])
    check(int(summary["Files scanned"]) >= 2000, "too few files: %s" % summary)
    check(100 <= before and int(summary["Defragmented"]) == before, "summary: %s" % summary)
    check(summary["Fragmented after"] == "0", "summary: %s" % summary)
    for page in ("analysisreport.html", "defragreport.html"):
        check(install.page(page) in result.stdout, page + " not named")
    check_fsck_clean(os.path.join(folder, "demo.img"))


def group_wine(win_stage, work):
    if not win_stage or not os.path.exists(os.path.join(win_stage, "vexa.exe")):
        print("skipped: no win64 build (set VEXA_WIN64_STAGE to its stage/vexa folder)")
        sys.exit(SKIP)
    need_tools("wine", "mkfs.fat", "mcopy", "fsck.fat")
    install = os.path.join(work, "vexa")
    shutil.copytree(win_stage, install, ignore=shutil.ignore_patterns(
        "*report[0-9]*.html", "*reporttop.html", "diskdata", "defragdate", "volumes.ini"))
    image = os.path.join(install, "card.img")
    make_fragmented_image(image, work)
    hashes = file_hashes(image, work)
    env = dict(os.environ)
    env.pop("VEXA_VOLUMES", None)
    env.setdefault("WINEPREFIX", os.path.join(work, "wineprefix"))
    env["WINEDEBUG"] = "-all"

    def wine(*args):
        return subprocess.run(["wine", os.path.join(install, "vexa.exe"), *args], capture_output=True, text=True,
                              env=env, timeout=900)

    # The volume map beside vexa.dll, with a path relative to it.
    with open(os.path.join(install, "volumes.ini"), "w") as f:
        f.write("[volumes]\r\nC=card.img\r\n")
    result = wine("--json", "analyze", "C")
    check(result.returncode == 0, "analyze under wine: exit %d\n%s" % (result.returncode, result.stderr))
    volume = json.loads(result.stdout.splitlines()[0])
    check(volume["analysis"]["fileSystem"] == "FAT32" and volume["analysis"]["scannedFiles"] == 1650, str(volume)[:400])
    check(volume["analysis"]["bigFragmentFiles"] + volume["analysis"]["smallFragmentFiles"] > 50, "not fragmented")
    result = wine("defrag", "Q")
    check(result.returncode == 2 and "volume Q: does not exist" in result.stderr, "unknown letter under wine")
    os.remove(os.path.join(install, "volumes.ini"))
    result = wine("defrag", "C", "--volume", "C=Z:" + image.replace("/", "\\"))
    check(result.returncode == 0, "defrag under wine: exit %d\n%s\n%s" % (result.returncode, result.stdout, result.stderr))
    check("C: defragmented" in result.stdout, "no summary under wine:\n" + result.stdout)
    check(os.path.exists(os.path.join(install, "defragreport1.html")), "no page under wine")
    check_fsck_clean(image)
    check(file_hashes(image, work) == hashes, "file contents changed under wine")
    check(fragmented_files(image) == [], "still in pieces after the defragmentation under wine")


def make_left_fragmented_image(path, work):
    """A 1.44 MB FAT12 floppy of 512-byte clusters whose free space lies in one-cluster
    holes and one run near the end: SMALL.BIN and SETUP.EXE (3 clusters each) and
    BIG.ISO (2,000 clusters, more than any free run) lie in pieces."""
    rng = random.Random(7)
    fill = os.path.join(work, "FILL")
    os.makedirs(fill, exist_ok=True)
    for i in range(1000):
        with open(os.path.join(fill, "F%04d.TXT" % i), "wb") as f:
            f.write(rng.randbytes(300))
    sources = {}
    for name, size in (("SMALL.BIN", 1500), ("SETUP.EXE", 1400), ("BIG.ISO", 2000 * 512)):
        sources[name] = os.path.join(work, name)
        with open(sources[name], "wb") as f:
            f.write(rng.randbytes(size))
    with open(path, "wb") as f:
        f.truncate(1474560)
    run_tool("mkfs.fat", "-F", "12", "-s", "1", "-n", "LEFT", path)
    run_tool("mcopy", "-i", path, "-s", fill, "::")
    run_tool("mdel", "-i", path, *["::FILL/F%04d.TXT" % i for i in range(0, 1000, 2)])
    for name in ("SMALL.BIN", "SETUP.EXE", "BIG.ISO"):
        run_tool("mcopy", "-i", path, sources[name], "::" + name)
        os.remove(sources[name])
    shutil.rmtree(fill)


def volume_path(mtools_path):
    """"::/DIR/X.BIN" as the engine names it: "C:\\DIR\\X.BIN"."""
    return "C:" + mtools_path[2:].replace("/", "\\")


def group_left_fragmented(install, work):
    """After a defragmentation the summary and --json name every file still in pieces
    (as mtools sees the chains) with the reason; contig gives its reason too."""
    image = os.path.join(work, "floppy.img")
    make_left_fragmented_image(image, work)
    hashes = file_hashes(image, work)
    before = fragmented_files(image)
    check({"::/SMALL.BIN", "::/SETUP.EXE", "::/BIG.ISO"} <= set(before), "fixture not fragmented: %s" % before)
    with open(install.page("preset.ini"), "w", newline="") as f:
        f.write("[folder]\r\n[file]\r\n[type]\r\nexe\r\n")

    args = ["C", "--volume", "C=" + image, "--min-free", "64K"]
    result = install.run("defrag", *args)
    check(result.returncode == 0, "exit %d:\n%s\n%s" % (result.returncode, result.stdout, result.stderr))
    check_fsck_clean(image)
    check(file_hashes(image, work) == hashes, "file contents changed")
    left = sorted(volume_path(p) for p in fragmented_files(image))
    check(left == ["C:\\BIG.ISO", "C:\\SETUP.EXE"], "still in pieces after the job: %s" % left)
    lines = result.stdout.splitlines()
    check("C: 2 files are still in more than one piece:" in lines, "no list heading:\n" + result.stdout)
    named = sorted(line.split(": ")[0].strip() for line in lines if line.startswith("  C:\\"))
    check(named == left, "summary names %s, mtools finds %s" % (named, left))
    big = [line for line in lines if line.startswith("  C:\\BIG.ISO: ")]
    check(len(big) == 1 and "pieces; no free run is large enough: it needs 2,000 contiguous clusters; "
          "the largest free run has " in big[0], "BIG.ISO's reason:\n" + result.stdout)
    check("  C:\\SETUP.EXE: 3 pieces; excluded by the Options lists" in lines, "SETUP.EXE's reason:\n" + result.stdout)

    # The same in --json, with both sizes as numbers.
    result = install.run("--json", "defrag", *args)
    check(result.returncode == 0, "exit %d:\n%s" % (result.returncode, result.stderr))
    volume = json.loads(result.stdout.splitlines()[0])
    files = {f["path"]: f for f in volume["leftFragmented"]}
    check(sorted(files) == left, "JSON names %s" % sorted(files))
    iso = files["C:\\BIG.ISO"]
    check(iso["reason"] == "noFreeRun" and iso["clusters"] == 2000 and 0 < iso["largestFreeRun"] < 2000,
          "BIG.ISO in JSON: %s" % iso)
    check(iso["pieces"] > 1 and iso["largestFreeRun"] == int(big[0].rsplit(" ", 1)[1].replace(",", "")),
          "JSON and summary differ: %s / %s" % (iso, big[0]))
    check(files["C:\\SETUP.EXE"]["reason"] == "excluded" and files["C:\\SETUP.EXE"]["largestFreeRun"] is None,
          str(files["C:\\SETUP.EXE"]))
    analysed = install.run("--json", "analyze", "C", "--volume", "C=" + image)
    check("leftFragmented" not in analysed.stdout, "an analysis has no such list")

    # contig says why the file stays in pieces, in words and in JSON.
    result = install.run("--json", "contig", "C", "\\BIG.ISO", "--volume", "C=" + image)
    contig = json.loads(result.stdout.splitlines()[0])
    check(contig["reason"] == "noFreeRun" and contig["reasonText"] == "no free run is large enough: it needs 2,000 "
          "contiguous clusters; the largest free run has %s" % "{:,}".format(iso["largestFreeRun"]), str(contig))
    result = install.run("--json", "contig", "C", "\\SETUP.EXE", "--volume", "C=" + image)
    contig = json.loads(result.stdout.splitlines()[0])
    check(contig["outcome"] == "done" and contig["reason"] is None, "contig moves a file the lists exclude: %s" % contig)
    check_fsck_clean(image)
    check(file_hashes(image, work) == hashes, "file contents changed by contig")


def fat_tables(path):
    """Byte offsets of the two FATs of a FAT16 image, and its reserved sectors' size."""
    with open(path, "rb") as f:
        boot = f.read(64)
    sector = int.from_bytes(boot[11:13], "little")
    reserved = int.from_bytes(boot[14:16], "little")
    fat_sectors = int.from_bytes(boot[22:24], "little")
    return reserved * sector, (reserved + fat_sectors) * sector


def group_volume_state(install, work):
    """What a volume's state says beyond its files: "No need to defrag" only while the
    volume is as the last defragmentation left it; a dirty mark set elsewhere refuses
    writes but not analysis; clusters in use by no file are counted with their remedy."""
    card = os.path.join(work, "card.img")
    make_small_fragmented_image(card, work, "card")
    args = ["--volume", "C=" + card]
    result = install.run("defrag", "C", *args, "--min-free", "1M")
    check(result.returncode == 0, "defrag: exit %d\n%s" % (result.returncode, result.stderr))
    result = install.run("analyze", "C", *args)
    check("No need to defrag this volume." in result.stdout, "unchanged after the job:\n" + result.stdout)
    # Another file written after the job: the volume has changed, the verdict is honest.
    extra = os.path.join(work, "extra.bin")
    with open(extra, "wb") as f:
        f.write(random.Random(9).randbytes(30000))
    run_tool("mcopy", "-i", card, extra, "::/extra.bin")
    result = install.run("analyze", "C", *args)
    check(result.returncode == 0 and "C: analysed" in result.stdout, "analyze: %s" % result.stdout)
    check("No need to defrag this volume." not in result.stdout, "a changed volume is not 'no need':\n" + result.stdout)
    check(os.path.exists(install.page("defragprint")), "no defragprint beside defragdate")

    # Two lost clusters (a chain 1000 -> 1001 in both FATs that no file owns).
    lost = os.path.join(work, "lost.img")
    with open(lost, "wb") as f:
        f.truncate(32 * MB)
    run_tool("mkfs.fat", "-F", "16", "-s", "4", lost)
    run_tool("mcopy", "-i", lost, extra, "::/extra.bin")
    for copy in fat_tables(lost):
        with open(lost, "r+b") as f:
            f.seek(copy + 1000 * 2)
            f.write((1001).to_bytes(2, "little") + (0xFFFF).to_bytes(2, "little"))
    result = install.run("analyze", "C", "--volume", "C=" + lost)
    check(result.returncode == 0, "analyze of lost clusters: exit %d\n%s" % (result.returncode, result.stderr))
    check("C: 2 clusters (4.00 KiB) are marked in use but owned by no file or folder; run fsck.fat -a" in result.stdout,
          "lost clusters not named:\n" + result.stdout)
    result = install.run("--json", "--quiet", "analyze", "C", "--volume", "C=" + lost)
    record = json.loads(result.stdout.splitlines()[0])
    check(record["lostClusters"] == 2 and record["lostBytes"] == 4096 and "fsck.fat -a" in record["lostRemedy"],
          "json: %s" % result.stdout)
    clean = install.run("--json", "--quiet", "analyze", "C", "--volume", "C=" + card)
    check(json.loads(clean.stdout.splitlines()[0])["lostClusters"] == 0, "json of a clean card: " + clean.stdout)

    # Marked dirty by something else: analysed, never written, the checker named.
    dirty = os.path.join(work, "dirty.img")
    shutil.copyfile(card, dirty)
    with open(dirty, "r+b") as f:
        f.seek(37)
        state = f.read(1)[0]
        f.seek(37)
        f.write(bytes([state | 1]))
    before = image_hash(dirty)
    for command in ("defrag", "optimize"):
        result = install.run(command, "C", "--volume", "C=" + dirty, "--min-free", "1M")
        check(result.returncode == 2, "%s of a dirty volume: exit %d\n%s" % (command, result.returncode, result.stderr))
        check("marked dirty" in result.stderr and "fsck.fat -a" in result.stderr, "no checker named:\n" + result.stderr)
    result = install.run("analyze", "C", "--volume", "C=" + dirty)
    check(result.returncode == 0 and "analysis only" in result.stderr, "analysis of a dirty volume:\n" + result.stderr)
    check(image_hash(dirty) == before, "a dirty volume was written")


GROUPS = {
    "edges": group_edges, "small-volumes": group_small_volumes,
    "usage": group_usage, "errors": group_errors, "map": group_map, "analyze": group_analyze, "defrag": group_defrag,
    "optimize": group_optimize, "json": group_json, "stop-analysis": group_stop_analysis,
    "stop-defrag": group_stop_defrag, "stop-in-depth": group_stop_in_depth, "demo": group_demo,
    "two-processes": group_two_processes, "left-fragmented": group_left_fragmented,
    "volume-state": group_volume_state,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage")
    parser.add_argument("--win-stage", default=os.environ.get("VEXA_WIN64_STAGE", ""))
    parser.add_argument("group", choices=sorted(GROUPS) + ["wine"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="vexa-cli-") as work:
        try:
            if args.group == "wine":
                group_wine(args.win_stage, work)
            else:
                if args.group != "usage":
                    need_tools("mkfs.fat", "mcopy", "mdel", "mdir", "mshowfat", "fsck.fat")
                GROUPS[args.group](Install(args.stage, work), work)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
