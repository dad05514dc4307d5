#!/usr/bin/env python3
"""vexa killed with SIGKILL at random instants of a defragmentation: every file still
reads as before and fsck.fat -n finds no more than a crash may leave (lost clusters,
differing FATs, the dirty bit, the free count); the next run gives back what the killed
one claimed and clears its dirty bit, after which fsck.fat -n finds nothing at all.

    kill_test.py --stage DIR [--kills N] [--seed S]

The kills are spread over the whole run (measured once, unkilled), so most land in the
middle of a file's group of moves; vexa runs on the slow card (VEXA_TEST_SLOW_CARD), so
that the run lasts long enough for that however fast the machine. Exit 0 passed, 1 failed, 77 skipped (a tool is
missing).
"""
import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402  (image makers, content hashes, the private install)

# What fsck.fat -n may report after a crash; any other line is a fault.
ALLOWED = (
    "fsck.fat ", "FATs differ but appear to be intact", "Using first FAT", "Dirty bit is set",
    "Automatically removing dirty bit", "Free cluster summary", "Auto-correcting", "Reclaimed ",
    "Leaving filesystem unchanged", "Checking for unused clusters", "files, ",
)


def disallowed_fsck_lines(image):
    result = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
    lines = (result.stdout + result.stderr).splitlines()
    return [line for line in lines if line.strip() and not any(a in line for a in ALLOWED)]


def run_killed(install, image, delay):
    """Starts a quick defragmentation of `image` and kills it after `delay` seconds.
    Returns True when the kill found it still running."""
    env = cli_test.vexa_environment(os.environ)
    process = subprocess.Popen([install.program, "--quiet", "defrag", "C", "--volume", "C=" + image],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    time.sleep(delay)
    running = process.poll() is None
    if running:
        process.send_signal(signal.SIGKILL)
    process.wait(timeout=600)
    return running and process.returncode == -signal.SIGKILL


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--kills", type=int, default=6)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    cli_test.need_tools("mkfs.fat", "mcopy", "mdel", "mdir", "mshowfat", "fsck.fat")
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory(prefix="vexa-kill-") as work:
        try:
            install = cli_test.Install(args.stage, work)
            pristine = os.path.join(work, "pristine.img")
            cli_test.make_fragmented_image(pristine, work)
            hashes = cli_test.file_hashes(pristine, work)
            image = os.path.join(work, "card.img")

            shutil.copyfile(pristine, image)
            started = time.monotonic()
            result = install.run("--quiet", "defrag", "C", "--volume", "C=" + image)
            whole = time.monotonic() - started
            cli_test.check(result.returncode == 0, "unkilled run: exit %d\n%s" % (result.returncode, result.stderr))
            cli_test.check(cli_test.fragmented_files(image) == [], "the unkilled run left fragmented files")

            mid_job = 0
            reclaims = 0
            for n in range(args.kills):
                delay = rng.uniform(0.05, whole)
                shutil.copyfile(pristine, image)
                killed = run_killed(install, image, delay)
                mid_job += 1 if killed else 0
                where = "kill %d after %.3f s (seed %d)" % (n + 1, delay, args.seed)
                bad = disallowed_fsck_lines(image)
                cli_test.check(bad == [], "%s: fsck.fat -n found:\n%s" % (where, "\n".join(bad)))
                cli_test.check(cli_test.file_hashes(image, work) == hashes, "%s: a file's content changed" % where)
                second = install.run("--quiet", "defrag", "C", "--volume", "C=" + image)
                cli_test.check(second.returncode == 0, "%s: the next run: exit %d\n%s"
                               % (where, second.returncode, second.stderr))
                fsck = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
                found = fsck.stdout + fsck.stderr
                cli_test.check(fsck.returncode == 0 and "Dirty bit" not in found and "Reclaimed" not in found
                               and "differ" not in found and "Free cluster summary" not in found,
                               "%s: after the next run fsck.fat -n found:\n%s" % (where, found))
                cli_test.check(cli_test.file_hashes(image, work) == hashes,
                               "%s: a file's content changed in the next run" % where)
                if "reclaimed" in second.stderr:
                    reclaims += 1
            print("%d of %d kills landed while vexa ran (a whole run: %.2f s); %d next runs gave space back"
                  % (mid_job, args.kills, whole, reclaims))
            cli_test.check(mid_job * 2 >= args.kills, "too few kills landed during the job")
        except cli_test.Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
