#!/usr/bin/env python3
"""The engine's dialogs under wine64 and Xvfb.

Prepares a working folder from the build's stage folder (vexa.dll and its data files), a
"Setting" and "preset.ini" of known bytes, two FAT16 images made by mkfs.fat mapped as C
(128 MiB) and E (64 MiB), the stand-in VEXAAUTO.exe and the harness, then runs the
harness under wine and answers its "SHOT name" lines with a screenshot of the X display
(ImageMagick's import) saved as SCREENSHOTS/dialogs-NAME.png.

    dialogs_test.py --stage DIR --harness EXE --standin EXE --screenshots DIR

The display is $VEXA_TEST_DISPLAY (a number; an Xvfb is started there when none answers)
or a free one Xvfb picks. Exit 0 passed, 1 failed, 77 skipped (a tool is missing).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from virtual_display import VirtualDisplay  # noqa: E402

SKIP = 77


def need_tools(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)


def make_image(path, mib):
    with open(path, "wb") as f:
        f.truncate(mib * 1024 * 1024)
    subprocess.run(["mkfs.fat", "-F", "16", path], check=True, stdout=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--harness", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()
    need_tools("wine", "Xvfb", "import", "mkfs.fat")

    os.makedirs(args.screenshots, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="vexa-dialogs-") as work:
        folder = os.path.join(work, "Tolvane Disk Defrag", "vexa")
        shutil.copytree(args.stage, folder)
        shutil.copy(args.harness, os.path.join(folder, "dialogs_harness.exe"))
        shutil.copy(args.standin, os.path.join(folder, "VEXAAUTO.exe"))
        with open(os.path.join(folder, "Setting"), "wb") as f:
            f.write(b"123456789\x00\x00\x01\x00")
        with open(os.path.join(folder, "preset.ini"), "wb") as f:
            f.write(b"[folder]\r\nTemp\r\n[file]\r\n[type]\r\nexe")
        make_image(os.path.join(folder, "c.img"), 128)
        make_image(os.path.join(folder, "e.img"), 64)
        with open(os.path.join(folder, "volumes.ini"), "w") as f:
            f.write("[volumes]\nC=c.img\nE=e.img\n")

        server = VirtualDisplay((1280, 1024))
        display = server.name
        env = dict(os.environ, DISPLAY=display, WINEDEBUG="-all")
        env.pop("VEXA_VOLUMES", None)
        # Xvfb has no window manager: wine draws the frames and title bars itself, so the
        # screenshots show the windows whole.
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N",
                        "/f"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        harness = subprocess.Popen(["wine", os.path.join(folder, "dialogs_harness.exe")], cwd=folder, env=env,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, bufsize=1)
        try:
            for line in harness.stdout:
                line = line.rstrip("\r\n")
                if line.startswith("SHOT "):
                    name = line[5:].strip()
                    shot = os.path.join(args.screenshots, "dialogs-%s.png" % name)
                    subprocess.run(["import", "-display", display, "-window", "root", shot],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    print("screenshot: " + shot, flush=True)
                    harness.stdin.write("ok\n")
                    harness.stdin.flush()
                else:
                    print(line, flush=True)
            code = harness.wait(timeout=60)
        finally:
            if harness.poll() is None:
                harness.kill()
            server.close()
    print("harness exit code %d" % code)
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
