#!/usr/bin/env python3
"""One volume reached by two paths, and an image in use elsewhere, on real loop devices.

    volume_alias_test.py --stage DIR GROUP      GROUP: fat, exfat

Each group, on a FAT16 card (fat) or an exFAT card filled through exfat-fuse (exfat):
  same volume   an image and its loop device as two letters, and a partitioned image
                (losetup -P) beside its partition, are refused for every job before
                anything is read: the image stays byte-identical
  in use        an image attached to a loop device, and one mounted through it (the
                kernel's vfat, or exfat-fuse), is refused for defrag, optimize, contig
                and put with the device, mount point and commands named (exit 2), while
                analyze and check run and warn that the figures may change
  two processes one vexa with the image and one with its loop device (separate working
                folders, so only the volume lock stands between them): while one holds
                the volume the other is refused; started together, one works, the other
                is refused, and afterwards the image is fsck-clean with every file intact

Exit 0 passed, 1 failed, 77 skipped (not root, or losetup or another tool missing).
"""
import argparse
import fcntl
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "platform", "exfat"))
from cli_test import (MB, SKIP, Failure, Install, check, check_fsck_clean, file_hashes,  # noqa: E402
                      make_small_fragmented_image)
import exfat_jobs_test  # noqa: E402

SECTOR = 512
F_OFD_SETLK = getattr(fcntl, "F_OFD_SETLK", 37)  # Linux's number, for Pythons without the name
PARTITION_START = 2048  # sectors: the first partition starts at 1 MiB, as partitioning tools place it


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def attach(image, partitions=False):
    options = ["-P"] if partitions else []
    device = subprocess.run(["losetup", "-f", "--show", *options, image], check=True, capture_output=True,
                            text=True).stdout.strip()
    if partitions:
        for attempt in range(100):  # the partition's node appears once the kernel has read the table
            if os.path.exists(device + "p1"):
                break
            if attempt == 10:
                # A kernel without the partition-table parser: partx reads it and adds them.
                subprocess.run(["partx", "-a", device], capture_output=True)
            time.sleep(0.02)
        if not os.path.exists(device + "p1"):
            detach(device)
            raise Failure("no partition device for " + device)
    return device


def detach(device):
    for _ in range(100):
        if subprocess.run(["losetup", "-d", device], capture_output=True).returncode == 0:
            return
        time.sleep(0.02)
    raise Failure("cannot detach " + device)


def unmount(folder):
    for _ in range(100):
        if subprocess.run(["umount", folder], capture_output=True).returncode == 0:
            return
        time.sleep(0.02)
    raise Failure("cannot unmount " + folder)


class Card:
    """The file system of one group: how to make it, mount it, hash its files and check it."""

    def __init__(self, kind, work):
        self.kind = kind
        self.work = work
        # A path of a file on the card, for contig; its name differs between the makers.
        self.file = "/tree-card/part01.bin" if kind == "fat" else "/whole 0.dat"

    def make(self, path):
        if self.kind == "fat":
            make_small_fragmented_image(path, self.work, "card")
        else:
            exfat_jobs_test.make_image(path, self.work, seed=5)

    def mount(self, device, folder):
        """Mounts the card read-only (so the image stays byte-identical; a reader is
        broken by moves as much as a writer) and returns how a refusal names the mount: through the kernel
        (vfat) where it has FAT, else through fusefat, whose mount does not name its
        source, so its process is named instead."""
        os.makedirs(folder, exist_ok=True)
        if self.kind == "exfat":
            subprocess.run(["mount.exfat-fuse", "-o", "ro", device, folder], check=True, capture_output=True)
            return "mounted at %s (%s)" % (folder, device), "umount " + folder
        with open("/proc/filesystems") as f:
            kernel = any(line.split()[-1] == "vfat" for line in f if line.strip())
        if kernel or shutil.which("fusefat") is None:
            subprocess.run(["mount", "-t", "vfat", "-o", "ro", device, folder], check=True, capture_output=True)
            return "mounted at %s (%s)" % (folder, device), "umount " + folder
        subprocess.run(["fusefat", "-o", "ro", device, folder], check=True, capture_output=True)
        return "open in fusefat (pid ", "end fusefat"

    def hashes(self, image):
        if self.kind == "fat":
            return file_hashes(image, self.work)
        return exfat_jobs_test.fuse_hashes(image, self.work)

    def fsck_clean(self, image):
        if self.kind == "fat":
            check_fsck_clean(image)
        else:
            exfat_jobs_test.fsck_clean(image)


class Vexa:
    """A private install (its own working folder, so its own job lock)."""

    def __init__(self, stage, work, name):
        folder = os.path.join(work, name)
        os.makedirs(folder)
        self.install = Install(stage, folder)
        self.env = dict(os.environ)
        self.env.pop("VEXA_VOLUMES", None)
        self.slow = self.env.pop("VEXA_TEST_SLOW_CARD", "")

    def run(self, *args):
        return subprocess.run([self.install.program, *args], capture_output=True, text=True, env=self.env,
                              timeout=600)

    def start(self, *args, slow=0):
        """Starts vexa; with `slow`, on a card slow enough (`slow` microseconds a
        request) that the job still holds its volume when another starts."""
        env = dict(self.env)
        if slow and self.slow:
            env["LD_PRELOAD"] = self.slow
            env["VEXA_SLOW_CARD"] = "%d,4000000" % slow
            # A sanitizer runtime need not come first when a test preloads a library.
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS", ""), "verify_asan_link_order=0"]))
        return subprocess.Popen([self.install.program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True, env=env)


def expect(result, code, *texts):
    output = result.stdout + result.stderr
    check(result.returncode == code, "exit %d, not %d:\n%s" % (result.returncode, code, output))
    for text in texts:
        check(text in output, "%r not said:\n%s" % (text, output))


def write_jobs(volume, letter, card, source):
    """The write jobs on one letter, each with what it needs."""
    where = ["--volume", letter + "=" + volume]
    return [("defrag", letter, *where, "--min-free", "0"), ("optimize", letter, *where, "--min-free", "0"),
            ("contig", letter, card.file, *where), ("put", letter, source, "/", *where)]


def check_same_volume(vexa, card, work):
    image = os.path.join(work, "a.img")
    card.make(image)
    before = sha(image)
    device = attach(image)
    try:
        for job in (("analyze",), ("optimize", "--min-free", "0")):
            expect(vexa.run(*job, "CD", "--volume", "C=" + image, "--volume", "D=" + device), 2,
                   "C and D are the same volume (a.img through %s)" % device)
        expect(vexa.run("defrag", "EF", "--volume", "E=" + device, "--volume", "F=" + device), 2,
               "E and F are the same volume (a.img through %s)" % device)
    finally:
        detach(device)
    check(sha(image) == before, "the image changed under a refused job")

    # A partitioned image: its partition is the same volume as the image (and the loop
    # device in front of the whole), though it starts 1 MiB in.
    parted = os.path.join(work, "p.img")
    with open(parted, "wb") as out:
        entry = bytes([0, 0, 0, 0, 0x0C if card.kind == "fat" else 0x07, 0, 0, 0])
        entry += PARTITION_START.to_bytes(4, "little") + (os.path.getsize(image) // SECTOR).to_bytes(4, "little")
        out.write(b"\0" * 446 + entry + b"\0" * 48 + b"\x55\xaa")
        out.write(b"\0" * (PARTITION_START * SECTOR - SECTOR))
        with open(image, "rb") as f:
            shutil.copyfileobj(f, out)
    before = sha(parted)
    device = attach(parted, partitions=True)
    try:
        expect(vexa.run("defrag", "CD", "--volume", "C=" + parted, "--volume", "D=" + device + "p1"), 2,
               "C and D are the same volume (p.img through %sp1)" % device)
        expect(vexa.run("analyze", "CD", "--volume", "C=" + device, "--volume", "D=" + device + "p1"), 2,
               "C and D are the same volume (p.img through %s and %sp1)" % (device, device))
        # The partition alone is one volume like any other.
        expect(vexa.run("analyze", "D", "--volume", "D=" + device + "p1"), 0)
    finally:
        detach(device)
    check(sha(parted) == before, "the partitioned image changed under a refused job")


def check_in_use(vexa, card, work):
    image = os.path.join(work, "b.img")
    card.make(image)
    before = sha(image)
    source = os.path.join(work, "new.bin")
    with open(source, "wb") as f:
        f.write(os.urandom(5000))
    device = attach(image)
    mounted = None
    try:
        # Attached and not mounted: it can be mounted at any moment.
        for job in write_jobs(image, "C", card, source):
            expect(vexa.run(*job), 2, "is in use elsewhere: attached to " + device, "losetup -d " + device)
        expect(vexa.run("analyze", "C", "--volume", "C=" + image), 0, "attached to " + device,
               "the figures may change")
        folder = os.path.join(work, "mounted")
        named, release = card.mount(device, folder)
        mounted = folder
        for job in write_jobs(image, "C", card, source) + write_jobs(device, "D", card, source):
            expect(vexa.run(*job), 2, named, release)
        for letter, path in (("C", image), ("D", device)):
            analysis = vexa.run("analyze", letter, "--volume", letter + "=" + path)
            if letter == "D" and analysis.returncode == 2 and "block device is mounted or in use" in analysis.stderr:
                continue  # a driver that claims the device (the kernel's, exfat-fuse's) keeps it from us
            expect(analysis, 0, named, "the figures may change")
            result = vexa.run("check", letter, "--volume", letter + "=" + path)
            check(result.returncode in (0, 5) and "the figures may change" in result.stderr,
                  "check of a mounted volume (exit %d):\n%s" % (result.returncode, result.stdout + result.stderr))
    finally:
        if mounted is not None:
            unmount(mounted)
        detach(device)
    check(sha(image) == before, "the image changed under a refused job")


def check_two_processes(stage, card, work):
    image = os.path.join(work, "c.img")
    pristine = os.path.join(work, "c-pristine.img")
    card.make(pristine)
    hashes = card.hashes(pristine)
    shutil.copyfile(pristine, image)
    one = Vexa(stage, work, "one")
    two = Vexa(stage, work, "two")
    device = attach(image)
    try:
        # One holds the volume through the loop device, the other comes by the image
        # (an analysis, which the attachment alone does not refuse): the lock refuses it.
        first = one.start("defrag", "D", "--volume", "D=" + device, "--min-free", "0", slow=5000)
        started = first.stdout.readline()
        if started == "":
            raise Failure("the holding job printed nothing:\n" + first.communicate()[1])
        refused = two.run("analyze", "C", "--volume", "C=" + image)
        check(refused.returncode == 2 and "in use by another process" in refused.stderr,
              "the image was not refused while its loop device was in use (%d):\n%s" % (refused.returncode,
                                                                                         refused.stderr))
        out, err = first.communicate(timeout=600)
        check(first.returncode == 0, "the holding job failed (%d):\n%s%s%s" % (first.returncode, started, out, err))
        # The other way round, with the image held as vexa holds it (the whole file
        # locked by its open file description): the loop device is refused.
        with open(image, "r+b") as held:
            fcntl.fcntl(held.fileno(), F_OFD_SETLK, struct.pack("hhqqi4x", fcntl.F_WRLCK, os.SEEK_SET, 0, 0, 0))
            expect(one.run("defrag", "D", "--volume", "D=" + device, "--min-free", "0"), 2,
                   "in use by another process")
            expect(one.run("analyze", "D", "--volume", "D=" + device), 2, "in use by another process")
        card.fsck_clean(image)

        # Started together: whichever opens first works, the other is refused.
        shutil.copyfile(pristine, image)
        processes = [one.start("optimize", "D", "--volume", "D=" + device, "--min-free", "0"),
                     two.start("analyze", "C", "--volume", "C=" + image)]
        outcomes = []
        for process in processes:
            out, err = process.communicate(timeout=600)
            outcomes.append((process.returncode, out + err))
        check(any(code == 0 for code, _ in outcomes), "neither process worked: %s" % outcomes)
        for code, output in outcomes:
            check(code == 0 or (code == 2 and "in use by another process" in output),
                  "exit %d without the reason:\n%s" % (code, output))
        # An image write job is refused while the image is attached, whatever the timing.
        expect(two.run("defrag", "C", "--volume", "C=" + image, "--min-free", "0"), 2, "attached to " + device)
    finally:
        detach(device)
    card.fsck_clean(image)
    check(card.hashes(image) == hashes, "file contents changed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("group", choices=("fat", "exfat"))
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("skipped: loop devices and mounts need root")
        return SKIP
    tools = ["losetup", "mount", "umount"]
    tools += ["mkfs.fat", "fsck.fat", "mcopy", "mdel", "fusefat"] if args.group == "fat" else [
        "mkfs.exfat", "fsck.exfat", "mount.exfat-fuse"]
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return SKIP
    if not os.path.exists("/dev/loop-control") or (args.group == "exfat" and not os.path.exists("/dev/fuse")):
        print("skipped: no /dev/loop-control" + ("" if args.group == "fat" else " or /dev/fuse"))
        return SKIP
    with tempfile.TemporaryDirectory(prefix="vexa-alias-") as work:
        try:
            card = Card(args.group, work)
            vexa = Vexa(args.stage, work, "main")
            check_two_processes(args.stage, card, work)
            check_same_volume(vexa, card, work)
            check_in_use(vexa, card, work)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
