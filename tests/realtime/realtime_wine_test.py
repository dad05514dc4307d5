#!/usr/bin/env python3
"""VEXAAUTO.exe, the real-time defragmenter, under wine64 on a FAT image.

The win64 stage folder is copied into a folder of its own with a fragmented FAT32 image
mapped as drive C in volumes.ini. The program's test hooks steer it: VEXAAUTO_TEST_INPUT
names a file holding the time of the "last input" (and the power source), VEXAAUTO_TEST_TIP
a file where it writes every new tip text of its tray icon. The test checks:

- while the user is present nothing runs and the image is not even open;
- a second copy exits at once while the first runs;
- ten idle minutes: the image is defragmented (fsck.fat -n clean, contents unchanged,
  no file in pieces), the tip says what ran, and the image is closed again afterwards;
- the image fragmented again and a new idle period: input during the job stops it, the
  image stays consistent, and the measured times from the input to the tip's "Stopping",
  to the last write of the image and to the end of the run are printed; afterwards the
  waiting program uses next to no CPU (no busy loop);
- WM_CLOSE (taskkill), which takes the menu's "Exit" path, ends the program. (The
  menu itself is driven by hand with xdotool; under heavy load its keys go astray.)

    realtime_wine_test.py --win-stage DIR [--shots DIR]
                                   DIR holds VEXAAUTO.exe and vexa.dll; screenshots of
                                   the tray, its tip and its menu go to --shots

The windows need an X display: VEXA_TEST_DISPLAY names one to use (an Xvfb is started
on it when none answers); without it Xvfb picks a free display itself.
Exit 0 passed, 1 failed, 77 skipped (no win64 build, or a tool is missing).
"""
import argparse
import importlib.util
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("cli_test", os.path.join(HERE, "..", "cli", "cli_test.py"))
cli = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(cli)
check, Failure, SKIP = cli.check, cli.Failure, cli.SKIP
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import slow_card  # noqa: E402
from virtual_display import VirtualDisplay  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class AutoProgram:
    """One VEXAAUTO.exe run under wine, steered through its test hooks."""

    def __init__(self, install, work, env):
        self.install = install
        self.input_file = os.path.join(work, "input.txt")
        self.tip_file = os.path.join(work, "tip.txt")
        self.env = dict(env)
        self.env["VEXAAUTO_TEST_INPUT"] = windows_path(self.input_file)
        self.env["VEXAAUTO_TEST_TIP"] = windows_path(self.tip_file)
        self.process = None

    def input_at(self, when, power="ac"):
        partial = self.input_file + ".new"
        with open(partial, "w") as f:
            f.write("input=%.3f\npower=%s\n" % (when, power))
        os.replace(partial, self.input_file)

    def input_now(self):
        self.input_at(time.time())

    def idle_for(self, minutes):
        self.input_at(time.time() - minutes * 60)

    def start(self):
        return subprocess.Popen(["wine", os.path.join(self.install, "VEXAAUTO.exe")], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tip(self):
        try:
            with open(self.tip_file) as f:
                return f.read()
        except FileNotFoundError:
            return None

    def wait_tip(self, predicate, timeout, what):
        deadline = time.time() + timeout
        while time.time() < deadline:
            tip = self.tip()
            if tip is not None and predicate(tip):
                return tip
            if self.process is not None and self.process.poll() is not None:
                raise Failure("VEXAAUTO.exe ended (exit %d) while waiting for %s" % (self.process.returncode, what))
            time.sleep(0.01)
        raise Failure("no tip %s within %d s (last tip: %r)" % (what, timeout, self.tip()))


class Tray:
    """The icon in wine's own system-tray window, reached with xdotool."""

    def __init__(self, display, shots):
        self.env = dict(os.environ, DISPLAY=display)
        self.shots = shots

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=30).stdout

    def icon(self):
        windows = self.xdotool("search", "--name", "^Wine System Tray$").split()
        check(len(windows) == 1, "no single wine system tray window: %r" % windows)
        geometry = self.xdotool("getwindowgeometry", "--shell", windows[0])
        values = dict(line.split("=", 1) for line in geometry.split())
        # The first icon sits at the left end of the tray window.
        return int(values["X"]) + 9, int(values["Y"]) + int(values["HEIGHT"]) // 2

    def hover(self):
        x, y = self.icon()
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(2)  # the tip shows after a pause

    def shot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            subprocess.run(["import", "-window", "root", "-crop", "400x160+0+0",
                            os.path.join(self.shots, "vexaauto-%s.png" % name)], env=self.env, timeout=30)


def sparse_copy(source, target):
    subprocess.run(["cp", "--sparse=always", source, target], check=True)


def cpu_seconds(name):
    """CPU time (user and system) used so far by the processes whose command is `name`."""
    ticks = 0
    found = False
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % pid) as f:
                if f.read().strip() != name:
                    continue
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ticks += int(fields[11]) + int(fields[12])
            found = True
        except (OSError, IndexError, ValueError):
            pass
    check(found, "no process named %s" % name)
    return ticks / os.sysconf("SC_CLK_TCK")


def open_by_any_process(path):
    """Whether a process we can see (the program, wineserver) holds `path` open."""
    target = os.path.realpath(path)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        folder = "/proc/%s/fd" % pid
        try:
            for fd in os.listdir(folder):
                try:
                    if os.readlink(os.path.join(folder, fd)) == target:
                        return True
                except OSError:
                    pass
        except OSError:
            pass
    return False


def run(win_stage, work, shots):
    if not win_stage or not os.path.exists(os.path.join(win_stage, "VEXAAUTO.exe")):
        print("skipped: no win64 build with VEXAAUTO.exe (set VEXA_WIN64_STAGE to its stage/vexa folder)")
        sys.exit(SKIP)
    cli.need_tools("wine", "Xvfb", "xdpyinfo", "xdotool", "import", "mkfs.fat", "mcopy", "mdel", "mdir", "mshowfat", "fsck.fat")
    install = os.path.join(work, "vexa")
    shutil.copytree(win_stage, install, ignore=shutil.ignore_patterns(
        "*report[0-9]*.html", "*reporttop.html", "diskdata", "defragdate", "volumes.ini"))
    image = os.path.join(install, "card.img")
    # An 8 GiB volume of 512-byte clusters (sparse) with a few hundred files in pieces: a
    # run on it lasts seconds, so the input of the stop below lands while it runs.
    cli.make_fragmented_image(image, work, volume_mib=8192, large_files=600, large_bytes=(700, 1500))
    hashes = cli.file_hashes(image, work)
    pieces = cli.fragmented_files(image)
    fragmented_copy = os.path.join(work, "fragmented.img")
    sparse_copy(image, fragmented_copy)
    check(len(pieces) > 50, "the test image is hardly fragmented: %d files" % len(pieces))
    with open(os.path.join(install, "volumes.ini"), "w") as f:
        f.write("[volumes]\r\nC=card.img\r\n")

    display = VirtualDisplay((1024, 768))
    env = dict(os.environ)
    env.pop("VEXA_VOLUMES", None)
    env.setdefault("WINEPREFIX", os.path.join(work, "wineprefix"))
    env["WINEDEBUG"] = "-all"
    env["DISPLAY"] = display.name
    # The card writes 200 KB a second: the engine needs no more than one bitmap read per
    # pass, so on a fast image the whole run would be over before the input of the stop.
    env.update(slow_card.environment(work, "2000,200000,writes", image))
    auto = AutoProgram(install, work, env)
    tray = Tray(display.name, shots)
    try:
        # The user is at the keyboard: nothing runs, the image is not touched.
        auto.input_now()
        auto.process = auto.start()
        auto.wait_tip(lambda t: t == "Idle", 120, '"Idle"')
        time.sleep(2)
        check(auto.tip() == "Idle", "something started while the user was present: %r" % auto.tip())
        check(not open_by_any_process(image), "the image is open while the program waits")

        # A second copy for the same user exits at once.
        second = auto.start()
        try:
            code = second.wait(timeout=60)
        except subprocess.TimeoutExpired:
            second.kill()
            raise Failure("a second VEXAAUTO.exe did not exit")
        check(code == 0, "the second copy exited with %d" % code)
        check(auto.process.poll() is None, "the first copy ended when the second started")

        # Ten idle minutes: a quick defragmentation of C.
        auto.idle_for(11)
        auto.wait_tip(lambda t: t.startswith("Defragmenting C:"), 30, "of a run")
        tray.hover()
        tray.shot("running")
        tip = auto.wait_tip(lambda t: t.startswith("Last run:"), 300, "after the run")
        match = re.fullmatch(r"Last run: C: (\d+) files defragmented, \d\d:\d\d", tip)
        check(match is not None, "tip after the run: %r" % tip)
        check(int(match.group(1)) == len(pieces),
              "the tip says %s files, the image had %d in pieces" % (match.group(1), len(pieces)))
        cli.check_fsck_clean(image)
        check(cli.file_hashes(image, work) == hashes, "file contents changed by the run")
        check(cli.fragmented_files(image) == [], "files still in pieces after the run")
        time.sleep(1)
        check(not open_by_any_process(image), "the image stays open after the run")

        # The image fragmented again and the next idle period: input during the job stops it.
        auto.input_now()
        sparse_copy(fragmented_copy, image)
        time.sleep(6)  # a waiting tick (5 s) sees the input: the idle period is over
        os.remove(os.path.join(install, "defragdate"))  # C was defragmented a minute ago
        auto.idle_for(11)
        # The input comes as soon as the run turns to C: its scan or its moves are stopped.
        auto.wait_tip(lambda t: t.startswith(("Scanning C:", "Defragmenting C:")), 120, "of the run on C")
        auto.input_now()
        touched = time.time()
        auto.wait_tip(lambda t: t == "Stopping" or t.startswith("Last run:"), 30, "of the stop")
        seen = time.time()
        tip = auto.wait_tip(lambda t: t.startswith("Last run:"), 60, "after the stop")
        ended = time.time()
        last_write = os.stat(image).st_mtime
        check(re.fullmatch(r"Last run: C: (\d+ files? defragmented, )?stopped, \d\d:\d\d", tip) is not None,
              "tip after the stop: %r" % tip)
        print("input to \"Stopping\": %.2f s; input to the image's last write: %.2f s; input to the run's end: %.2f s"
              % (seen - touched, max(0.0, last_write - touched), ended - touched))
        check(last_write - touched < 3, "the image was written %.2f s after the input" % (last_write - touched))
        cli.check_fsck_clean(image)
        check(cli.file_hashes(image, work) == hashes, "file contents changed by the stopped run")
        left = cli.fragmented_files(image)
        check(len(left) > 0, "the run was not stopped: every file is whole")
        # Waiting: the user is back, so no new run starts, and the program sleeps on its timer.
        used = cpu_seconds("VEXAAUTO.exe")
        time.sleep(6)
        used = cpu_seconds("VEXAAUTO.exe") - used
        print("CPU time while waiting 6 s: %.2f s" % used)
        check(used < 0.5, "the waiting program used %.2f s of CPU in 6 s" % used)
        check(auto.tip() == tip, "the tip changed after the stop: %r" % auto.tip())

        # "Exit" through WM_CLOSE (taskkill asks the window to close): the menu's Exit path.
        subprocess.run(["wine", "taskkill", "/im", "VEXAAUTO.exe"], env=env, capture_output=True, timeout=60)
        try:
            auto.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise Failure("VEXAAUTO.exe did not end on WM_CLOSE")
    finally:
        if auto.process is not None and auto.process.poll() is None:
            subprocess.run(["wine", "taskkill", "/f", "/im", "VEXAAUTO.exe"], env=env, capture_output=True, timeout=60)
            auto.process.kill()
        display.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win-stage", default=os.environ.get("VEXA_WIN64_STAGE", ""))
    parser.add_argument("--shots", default="")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="vexa-auto-") as work:
        try:
            run(args.win_stage, work, args.shots)
        except Failure as failure:
            print("FAILED: %s" % failure)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
