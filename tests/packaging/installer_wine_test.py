#!/usr/bin/env python3
"""The Windows installer under wine64: made by makensis from this build's stage folder,
installed silently, used (vexa.exe analyses a mapped FAT image; DefragShell.exe starts and
shows its window), then uninstalled silently, leaving no files, Run values, task or
registry keys of ours.

    installer_wine_test.py --stage STAGE --arch win64 --probe window_probe.exe --out DIR

Exit 77 (skipped) when a tool is missing."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "cli"))
import cli_test  # noqa: E402  (image makers, fsck)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from virtual_display import VirtualDisplay  # noqa: E402

SKIP = 77
SCRIPT = os.path.join(HERE, "..", "..", "packaging", "windows", "installer.nsi")
PRODUCT = "Tolvane Disk Defrag"
USER_KEY = "HKCU\\Software\\Tolvane Disk Defrag"
MACHINE_KEY = "HKLM\\Software\\Tolvane Disk Defrag"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvane Disk Defrag"
RUN_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Wine:
    def __init__(self, work):
        self.env = dict(os.environ)
        self.env.pop("VEXA_VOLUMES", None)
        self.env["WINEDEBUG"] = "-all"
        self.env.setdefault("WINEPREFIX", os.path.join(work, "wineprefix"))
        self.prefix = self.env["WINEPREFIX"]

    def run(self, *args, timeout=300):
        return subprocess.run(["wine", *args], env=self.env, capture_output=True, text=True, timeout=timeout)

    def reg_value(self, key, name):
        out = self.run("reg", "query", key, "/v", name).stdout
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2] if len(parts) == 3 else ""
        return None

    def key_exists(self, key):
        return self.run("reg", "query", key).returncode == 0

    def unix(self, windows_path):
        return self.run("winepath", "-u", windows_path).stdout.strip()


def build_installer(args, out):
    version = re.search(r"project\([^)]*VERSION ([0-9.]+)", open(os.path.join(HERE, "..", "..", "CMakeLists.txt")).read()).group(1)
    setup = os.path.join(out, "tolvane-disk-defrag-%s-%s-setup.exe" % (version, args.arch))
    result = subprocess.run(["makensis", "-V2", "-DVERSION=" + version, "-DARCH=" + args.arch,
                             "-DSTAGE=" + args.stage, "-DOUTFILE=" + setup, SCRIPT], capture_output=True, text=True)
    check(result.returncode == 0, "makensis failed:\n" + result.stdout + result.stderr)
    return setup


def run(args, work):
    for tool in ("wine", "makensis", "mkfs.fat", "mcopy", "fsck.fat", "Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            print("skipped: missing " + tool)
            sys.exit(SKIP)
    wine = Wine(work)
    # Wine's desktop process takes the display of the first program of a session, so the
    # display comes first and the session starts afresh.
    display = VirtualDisplay((1280, 1024))
    wine.env["DISPLAY"] = display.name
    subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True)
    try:
        install_and_use(args, work, wine)
    finally:
        subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True)
        display.close()


def install_and_use(args, work, wine):
    os.makedirs(args.out, exist_ok=True)
    setup = build_installer(args, args.out)
    print("installer: %s (%d KiB)" % (os.path.basename(setup), os.path.getsize(setup) // 1024))

    program_files = wine.unix("C:\\Program Files")
    folder = os.path.join(program_files, PRODUCT)
    # A run that failed half-way may have left a copy behind.
    if os.path.exists(os.path.join(folder, "Uninstall.exe")):
        wine.run(os.path.join(folder, "Uninstall.exe"), "/S", "_?=" + "C:\\Program Files\\" + PRODUCT)
        shutil.rmtree(folder, ignore_errors=True)

    result = wine.run(setup, "/S")
    check(result.returncode == 0, "silent install failed: %d\n%s" % (result.returncode, result.stderr[-2000:]))
    for name in ["DefragShell.exe", "Tolvane Disk Defrag.chm", "Uninstall.exe", "vexa/vexa.dll", "vexa/vexa.exe",
                 "vexa/VEXAAUTO.exe", "vexa/analysisreport.html", "vexa/defragreportmodel.html",
                 "vexa/report.css", "vexa/preset.ini", "vexa/Setting"]:
        check(os.path.isfile(os.path.join(folder, name)), "not installed: " + name)
    links = [os.path.join(d, f) for d, _, files in os.walk(os.path.join(wine.prefix, "drive_c"))
             for f in files if f == PRODUCT + ".lnk"]
    check(links, "no Start menu entry")

    vexa = os.path.join(folder, "vexa", "vexa.exe")
    version_text = wine.run(vexa, "--version").stdout.strip()
    version = re.search(r"vexa ([0-9.]+)", version_text).group(1)
    check(wine.reg_value(MACHINE_KEY, "Version") == version,
          "Version in the registry %r, vexa --version %r" % (wine.reg_value(MACHINE_KEY, "Version"), version_text))
    check(wine.reg_value(UNINSTALL_KEY, "DisplayName") == PRODUCT, "no entry in the installed programs")
    check(wine.reg_value(UNINSTALL_KEY, "DisplayVersion") == version, "the entry's version is not %s" % version)
    size = wine.reg_value(UNINSTALL_KEY, "EstimatedSize")
    check(size is not None and int(size, 16 if size.startswith("0x") else 10) > 100, "EstimatedSize %r" % size)

    # vexa.exe from the installed folder analyses a FAT image.
    image = os.path.join(work, "card.img")
    cli_test.make_fragmented_image(image, work)
    result = wine.run(vexa, "analyze", "E", "--volume", "E=Z:" + image.replace("/", "\\"))
    check(result.returncode == 0 and "E:" in result.stdout, "installed vexa.exe analyze: %d\n%s\n%s" % (
        result.returncode, result.stdout, result.stderr))
    check(os.path.isfile(os.path.join(folder, "vexa", "analysisreport1.html")), "no report in the installed folder")

    # DefragShell.exe starts from the installed folder and shows its window.
    shell = subprocess.Popen(["wine", os.path.join(folder, "DefragShell.exe")], env=wine.env, cwd=work,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The main window as the X server sees it: titled like the program, 850 x 610.
        deadline = time.time() + 180
        shown = False
        while time.time() < deadline and not shown:
            found = subprocess.run(["xdotool", "search", "--name", "^Tolvane Disk Defrag$"], env=wine.env,
                                   capture_output=True, text=True).stdout.split()
            for window in found:
                geometry = subprocess.run(["xdotool", "getwindowgeometry", window], env=wine.env,
                                          capture_output=True, text=True).stdout
                shown = shown or "850x610" in geometry
            time.sleep(1)
        check(shown, "the installed DefragShell.exe showed no window")
    finally:
        shell.kill()
        subprocess.run(["wineserver", "-k"], env=wine.env, capture_output=True)

    # What the program adds while it is used, which the uninstaller must take away too.
    wine.run("reg", "add", RUN_KEY, "/v", "Vexarun", "/d", '"C:\\Program Files\\%s\\DefragShell.exe"' % PRODUCT, "/f")
    wine.run("reg", "add", RUN_KEY, "/v", "VEXAAUTO", "/d", '"C:\\Program Files\\%s\\vexa\\VEXAAUTO.exe"' % PRODUCT,
             "/f")
    scheduled = wine.run(vexa, "schedule", "add", "E")
    check(scheduled.returncode == 0, "schedule add under wine: exit %d %s" % (scheduled.returncode,
                                                                            scheduled.stderr.strip()[:200]))
    tasks = [f for _, _, files in os.walk(os.path.join(wine.prefix, "drive_c")) for f in files
             if f.startswith("Tolvane Disk Defrag Schedule")]
    check(tasks, "schedule add left no task for the uninstaller to remove")

    result = wine.run(os.path.join(folder, "Uninstall.exe"), "/S")
    check(result.returncode == 0, "silent uninstall failed: %d" % result.returncode)
    # The uninstaller runs from a copy of itself; wait for it to finish.
    deadline = time.time() + 120
    while os.path.exists(folder) and time.time() < deadline:
        time.sleep(0.5)
    left = [os.path.join(d, f) for d, _, files in os.walk(folder) for f in files] if os.path.exists(folder) else []
    check(not os.path.exists(folder), "the uninstaller left %s" % (left or folder))
    links = [os.path.join(d, f) for d, _, files in os.walk(os.path.join(wine.prefix, "drive_c"))
             for f in files if f == PRODUCT + ".lnk" or f.startswith("Tolvane Disk Defrag Schedule")]
    check(not links, "left behind: %s" % links)
    check(wine.reg_value(RUN_KEY, "Vexarun") is None and wine.reg_value(RUN_KEY, "VEXAAUTO") is None,
          "the Run values are still there")
    check(not wine.key_exists(USER_KEY), "the program's registry key is still there")
    check(not wine.key_exists(MACHINE_KEY), "the program's machine key is still there")
    check(not wine.key_exists(UNINSTALL_KEY), "the installed-programs entry is still there")
    print("installer_wine_test: all checks passed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("--arch", default="win64")
    parser.add_argument("--probe", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vexa-installer-")
    try:
        run(args, work)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
