#!/usr/bin/env python3
"""End-to-end tests of `vexa options` and `vexa schedule` on Linux.

Each group runs vexa from a private copy of the stage folder. The schedule group puts a
`crontab` program first on PATH that keeps the table in a file and logs its calls, as
Debian's crontab keeps it in its spool; the line vexa adds is then run the way cron runs
it (by sh, from the line's command part) against FAT images made by mkfs.fat, so the
scheduled run is shown to defragment the mapped volumes.

    settings_test.py --stage DIR options|schedule

Exit 0 passed, 1 failed, 77 skipped (a tool is missing).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
NAME = "Tolvane Disk Defrag Schedule"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
    print("PASS: " + message, flush=True)


def run(folder, *args, env=None):
    result = subprocess.run([os.path.join(folder, "vexa"), *args], cwd=folder, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=300)
    return result.returncode, result.stdout, result.stderr


def read(path, mode="rb"):
    # Text is read with its line ends as they are, so a kept "\r\n" can be checked.
    with open(path, mode, **({} if "b" in mode else {"newline": ""})) as f:
        return f.read()


def group_options(folder):
    with open(os.path.join(folder, "Setting"), "wb") as f:
        f.write(b"123456789\x00\x00\x01\x00")
    if os.path.exists(os.path.join(folder, "preset.ini")):
        os.remove(os.path.join(folder, "preset.ini"))
    code, out, err = run(folder, "options")
    check(code == 0, "options: prints (%d %s)" % (code, err))
    # On Linux only the lists act; the switches are DefragShell's, on Windows.
    check(out == "Folders: \nFiles: \nTypes: \n"
                 "These lists act on every defragmentation, by vexa here and by DefragShell on Windows.\n"
                 "Turn off, restart and run at startup act only on Windows, after DefragShell's jobs "
                 "(--turn-off and --restart set them).\n",
          "options: empty texts, and where the switches act:\n" + out)
    check("Run at Windows startup" not in out and ": on" not in out, "options: a switch that does not act here shown")

    code, out, err = run(folder, "options", "--folders", "Temp; My Data ;;Old;", "--types", "exe; rar",
                         "--turn-off", "on")
    check(code == 0, "options change: exit 0 (%s)" % err)
    check(read(os.path.join(folder, "preset.ini")) ==
          b"[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]\r\nexe\r\nrar",
          "options change: preset.ini as a confirmed Options dialog writes it")
    check("Folders: Temp; My Data ;;Old;\n" in out and "Turn off after defragmentation: on\n" in out
          and "Restart after defragmentation: off\n" in out and "act only on Windows" in out,
          "options change: the texts as typed, turn-off on and restart off:\n" + out)
    check(read(os.path.join(folder, "Setting")) == b"123456789\x00\x01\x00\x00",
          "options change: Setting bytes 10 and 11 swapped, bytes 0 to 8 kept")

    code, out, _ = run(folder, "options")
    check("Folders: Temp;MyData;;Old;\n" in out and "Types: exe;rar;\n" in out,
          "options: the next start reads the entries back from preset.ini:\n" + out)
    code, out, _ = run(folder, "options", "--restart", "on")
    check(code == 0 and read(os.path.join(folder, "Setting")) == b"123456789\x00\x00\x01\x00",
          "options --restart on: turns turn-off off")
    check(read(os.path.join(folder, "preset.ini")).startswith(b"[folder]\r\nTemp\r\nMyData"),
          "options --restart on: preset.ini rewritten with the same entries")

    for bad in (["options", "--turn-off", "on", "--restart", "on"], ["options", "--turn-off", "yes"],
                ["options", "extra"], ["analyze", "C", "--folders", "x"], ["options", "--folders"]):
        code, _, err = run(folder, *bad)
        check(code == 1 and "vexa:" in err, "bad usage %s: exit 1 (%s)" % (bad, err.splitlines()[0] if err else ""))


def make_image(path, work, name):
    with open(path, "wb") as f:
        f.truncate(128 * 1024 * 1024)  # room for the 50 MiB a defragmentation wants free
    subprocess.run(["mkfs.fat", "-F", "16", path], check=True, stdout=subprocess.DEVNULL)
    source = os.path.join(work, name)
    with open(source, "wb") as f:
        f.write(os.urandom(20000))
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    subprocess.run(["mcopy", "-i", path, source, "::" + name], check=True, env=env)


def group_schedule(folder, work):
    bin_dir = os.path.join(work, "bin")
    os.makedirs(bin_dir)
    table = os.path.join(work, "table")
    log = os.path.join(work, "crontab.log")
    with open(os.path.join(bin_dir, "crontab"), "w") as f:
        f.write("#!/bin/sh\n"
                "echo \"$*\" >> '%s'\n"
                "echo 'crontab: warning: the spool is on a slow disk' >&2\n"
                "case \"$1\" in\n"
                "  -l) [ -f '%s' ] || { echo \"no crontab for $(id -un)\" >&2; exit 1; }; cat '%s' ;;\n"
                "  -) cat > '%s' ;;\n"
                "  *) exit 2 ;;\n"
                "esac\n" % (log, table, table, table))
    os.chmod(os.path.join(bin_dir, "crontab"), 0o755)
    env = dict(os.environ, PATH=bin_dir + ":" + os.environ.get("PATH", ""))
    env.pop("VEXA_VOLUMES", None)

    make_image(os.path.join(folder, "c.img"), work, "A.BIN")
    make_image(os.path.join(folder, "e.img"), work, "B.BIN")
    with open(os.path.join(folder, "volumes.ini"), "w") as f:
        f.write("[volumes]\nC=c.img\n")
    schedule_map = os.path.join(folder, "schedule-volumes.ini")

    code, out, err = run(folder, "schedule", env=env)
    check(code == 0 and out == "No scheduled run.\n", "schedule show without a task (%d %s%s)" % (code, out, err))
    others = "MAILTO=someone\r\n30 2 * * 1 /usr/bin/backup --weekly  \\%\n"
    with open(table, "w", newline="") as f:
        f.write(others)

    # Nothing to run on: E is in neither the map nor the options.
    code, _, err = run(folder, "schedule", "add", "ce", env=env)
    check(code == 2 and "E has no image or device to run on" in err and "--volume E=PATH" in err,
          "schedule add ce without a mapping for E: refused, exit 2 (%s)" % err.strip())
    check(read(table, "r") == others and not os.path.exists(schedule_map),
          "schedule add refused: the table untouched, no map kept")
    code, _, err = run(folder, "schedule", "add", "C", "--volume", "C=bad\nname.img", env=env)
    check(code == 2 and "line break" in err, "schedule add with a line break in a path: refused (%s)" % err.strip())
    check(read(table, "r") == others, "line break refused: the table untouched")
    code, _, err = run(folder, "schedule", "show", "--volume", "E=e.img", env=env)
    check(code == 1, "schedule show --volume: bad usage")

    code, out, err = run(folder, "schedule", "add", "ce", "--volume", "E=e.img", env=env)
    check(code == 0 and "vexa CE daily at 15:00" in out, "schedule add ce --volume E=e.img: done (%s%s)" % (out, err))
    text = read(table, "r")
    check(text.startswith(others) and text.count("\n") == 3 and "warning" not in text,
          "schedule add: the other lines stay byte for byte, crontab's warning is no line of the table")
    line = text[len(others):].rstrip("\n")
    check(line.startswith("0 15 * * * ") and line.endswith(" # " + NAME), "schedule add: daily at 15:00, marked: " + line)
    check(("'%s' 'CE'" % os.path.join(folder, "vexa")) in line and
          ("VEXA_VOLUMES='%s'" % schedule_map) in line,
          "schedule add: runs this vexa with CE and the map kept for the schedule")
    check(read(schedule_map, "r").splitlines()[1:] ==
          ["[volumes]", "C=" + os.path.join(folder, "c.img"), "E=" + os.path.join(folder, "e.img")],
          "schedule add: the map keeps C from volumes.ini and E from --volume, with full paths")
    # The scheduled run needs neither the user's map nor the options of the add.
    os.remove(os.path.join(folder, "volumes.ini"))

    code, out, err = run(folder, "schedule", "show", env=env)
    check(code == 0 and "Parameters: CE\n" in out and "Runs: daily at 15:00\n" in out and
          ("Program: %s\n" % os.path.join(folder, "vexa")) in out, "schedule show:\n" + out)
    code, _, err = run(folder, "schedule", "add", "D", env=env)
    check(code == 7 and "scheduled already" in err, "schedule add twice: exit 7 (%s)" % err.strip())
    check(len(read(table, "r").splitlines()) == 3, "schedule add twice: the table is unchanged")

    # The line as cron runs it: its command part by sh, in a bare environment.
    command = line.split(" ", 5)[5]
    cron_env = {"PATH": "/usr/bin:/bin", "HOME": work, "SHELL": "/bin/sh"}
    result = subprocess.run(["/bin/sh", "-c", command], env=cron_env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, timeout=300)
    check(result.returncode == 0, "the scheduled command runs (%d %s)" % (result.returncode, result.stderr))
    pages = [p for p in ("defragreport1.html", "defragreport2.html") if os.path.exists(os.path.join(folder, p))]
    check(len(pages) == 2, "the scheduled run defragmented both volumes (pages %s)" % pages)
    for image in ("c.img", "e.img"):
        fsck = subprocess.run(["fsck.fat", "-n", os.path.join(folder, image)], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        check(fsck.returncode == 0, "fsck.fat -n %s after the scheduled run" % image)

    # The user moved the run to week days: the line is still ours by its marker.
    edited = "30 3 * * 1-5 " + line.split(" ", 5)[5]
    with open(table, "w", newline="") as f:
        f.write(others + edited + "\n")
    code, out, err = run(folder, "schedule", "show", env=env)
    check(code == 0 and "Runs: at the crontab times 30 3 * * 1-5\n" in out, "schedule show of an edited line:\n" + out)
    code, _, err = run(folder, "schedule", "add", "D", "--volume", "D=c.img", env=env)
    check(code == 7 and "scheduled already" in err, "schedule add with an edited line there: exit 7 (%s)" % err.strip())
    check(read(table, "r") == others + edited + "\n" and os.path.exists(schedule_map),
          "schedule add refused: the edited line and its map kept")

    code, out, err = run(folder, "schedule", "remove", env=env)
    check(code == 0, "schedule remove: done (%s)" % err)
    check(read(table, "r") == others, "schedule remove: only its own line is gone, the others byte for byte")
    check(not os.path.exists(schedule_map), "schedule remove: the schedule's map is gone")
    code, _, err = run(folder, "schedule", "remove", env=env)
    check(code == 7 and "no scheduled run" in err, "schedule remove without a task: exit 7")

    with open(os.path.join(bin_dir, "crontab"), "w") as f:
        f.write("#!/bin/sh\necho 'crontab: cannot connect' >&2\nexit 1\n")
    code, _, err = run(folder, "schedule", "add", "C", env=env)
    check(code == 7 and "scheduler cannot be reached" in err, "a failing crontab: exit 7 (%s)" % err.strip())
    for bad in (["schedule", "add"], ["schedule", "add", "AB"], ["schedule", "later"], ["schedule", "show", "x"]):
        code, _, err = run(folder, *bad, env=env)
        check(code == 1, "bad usage %s: exit 1" % bad)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--stage", required=True)
    parser.add_argument("group", choices=["options", "schedule"])
    args = parser.parse_args()
    if args.group == "schedule":
        for tool in ("mkfs.fat", "mcopy", "fsck.fat"):
            if shutil.which(tool) is None:
                print("skipped: missing " + tool)
                return SKIP
    with tempfile.TemporaryDirectory(prefix="vexa-settings-") as work:
        folder = os.path.join(work, "stage")
        shutil.copytree(args.stage, folder)
        for leftover in ("volumes.ini",):
            if os.path.exists(os.path.join(folder, leftover)):
                os.remove(os.path.join(folder, leftover))
        try:
            if args.group == "options":
                group_options(folder)
            else:
                group_schedule(folder, work)
        except Failure as failure:
            print("FAIL: " + str(failure), flush=True)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
