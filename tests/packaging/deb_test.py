#!/usr/bin/env python3
"""The Debian package: built by CPack from the tested build, checked by lintian, installed
into a scratch root (never this machine's own system), used by an unprivileged user, and
removed again.

    deb_test.py --build-dir BUILD

Exit 77 (skipped) when a tool it needs is missing or it does not run as root (dropping to
an unprivileged user needs root).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
PACKAGE = "tolvane-disk-defrag"
NOBODY = 65534


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def fail(message, result=None):
    print("FAIL: " + message)
    if result is not None:
        print(result.stdout[-4000:])
        print(result.stderr[-4000:])
    sys.exit(1)


def snapshot(root, skip=()):
    """Every file below root (but the skipped sub-folders) with its size and modification time."""
    files = {}
    for folder, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) not in skip]
        for name in names:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            files[os.path.relpath(path, root)] = (info.st_size, info.st_mtime_ns)
    return files


def build_package(build_dir, out):
    result = run(["cpack", "-G", "DEB", "-B", out], cwd=build_dir)
    if result.returncode != 0:
        fail("cpack failed", result)
    debs = [f for f in os.listdir(out) if f.endswith(".deb")]
    if len(debs) != 1:
        fail("expected one .deb in %s, found %s" % (out, debs))
    name = debs[0]
    if not (name.startswith(PACKAGE + "_") and name.endswith("_amd64.deb")):
        fail("package file name %s is not %s_VERSION_amd64.deb" % (name, PACKAGE))
    return os.path.join(out, name)


def check_lintian(deb):
    result = run(["lintian", "--no-tag-display-limit", deb])
    errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
    if errors:
        fail("lintian reports errors:\n" + "\n".join(errors))
    print("lintian: no errors (%d other lines)" % len(result.stdout.splitlines()))


def check_contents(deb):
    listing = run(["dpkg-deb", "--contents", deb]).stdout
    for path in ["./usr/bin/vexa", "./usr/lib/x86_64-linux-gnu/%s/libvexa.so" % PACKAGE,
                 "./usr/share/%s/preset.ini" % PACKAGE, "./usr/share/%s/report.css" % PACKAGE,
                 "./usr/share/man/man1/vexa.1.gz", "./usr/share/bash-completion/completions/vexa",
                 "./usr/share/doc/%s/copyright" % PACKAGE]:
        if path not in listing:
            fail("the package lacks " + path + "\n" + listing)
    depends = run(["dpkg-deb", "--field", deb, "Depends"]).stdout
    if "libc6" not in depends or "libstdc++6" not in depends:
        fail("Depends does not name the C and C++ libraries: " + depends)


def install(deb, root):
    admin = os.path.join(root, "var/lib/dpkg")
    for sub in ["info", "updates", "triggers"]:
        os.makedirs(os.path.join(admin, sub), exist_ok=True)
    for name in ["status", "available"]:
        open(os.path.join(admin, name), "a").close()
    # The scratch root has no other packages, so the dependencies are this machine's.
    result = run(["dpkg", "--root=" + root, "--force-depends", "--log=/dev/null", "-i", deb])
    if result.returncode != 0:
        fail("dpkg -i into the scratch root failed", result)


def as_user(home, command, path="/usr/bin:/bin", lang="C.UTF-8"):
    env = {"HOME": home, "PATH": path}
    if lang:
        env["LANG"] = lang
    return run(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] + command,
               env=env, cwd=home, timeout=900)


def check_schedule(vexa, home, data, scratch):
    """The crontab line `vexa schedule add` writes, run as cron runs it: by sh, in cron's bare
    environment. A crontab program first on PATH keeps the table in a file."""
    cron = os.path.join(scratch, "cron")
    os.makedirs(os.path.join(cron, "bin"))
    table = os.path.join(cron, "table")
    with open(os.path.join(cron, "bin", "crontab"), "w") as f:
        f.write("#!/bin/sh\n"
                "case \"$1\" in\n"
                "  -l) [ -f '%s' ] || { echo \"no crontab for $(id -un)\" >&2; exit 1; }; cat '%s' ;;\n"
                "  -) cat > '%s' ;;\n"
                "  *) exit 2 ;;\n"
                "esac\n" % (table, table, table))
    os.chmod(os.path.join(cron, "bin", "crontab"), 0o755)
    os.chown(cron, NOBODY, NOBODY)
    path = os.path.join(cron, "bin") + ":/usr/bin:/bin"
    images = [os.path.join(folder, "demo.img") for folder, _, names in os.walk(os.path.join(home, ".cache/vexa"))
              if "demo.img" in names]
    if len(images) != 1:
        fail("the demo left no image to schedule a run on: %s" % images)

    result = as_user(home, [vexa, "schedule", "add", "C"], path=path)
    if result.returncode != 2 or "--volume C=PATH" not in result.stderr or os.path.exists(table):
        fail("schedule add with no volume mapped was not refused (exit 2, crontab untouched)", result)
    result = as_user(home, [vexa, "schedule", "add", "C", "--volume", "C=" + images[0]], path=path)
    if result.returncode != 0:
        fail("schedule add C --volume C=IMAGE failed", result)
    with open(table) as f:
        lines = f.read().splitlines()
    if len(lines) != 1 or not lines[0].endswith(" # Tolvane Disk Defrag Schedule"):
        fail("the crontab does not hold the one marked line: %s" % lines)
    line = lines[0]
    if (" '%s' 'C'" % vexa) not in line:
        fail("the line does not run the installed program %s: %s" % (vexa, line))
    print("schedule add: " + line)

    # The command of the line exactly as written, as cron starts it.
    for page in ("defragreport.html", "defragreport1.html"):
        if os.path.exists(data + page):
            os.remove(data + page)
    command = line.split(" ", 5)[5]
    result = as_user(home, ["/bin/sh", "-c", command], lang=None)
    if result.returncode != 0:
        fail("the scheduled command failed: " + command, result)
    if not os.path.isfile(data + "defragreport1.html"):
        fail("the scheduled command did not defragment the mapped image (no defragreport1.html)", result)
    print("the scheduled line ran as written: exit 0, the mapped image defragmented")

    result = as_user(home, [vexa, "schedule", "remove"], path=path)
    with open(table) as f:
        left = f.read()
    if result.returncode != 0 or left != "" or os.path.exists(data + "schedule-volumes.ini"):
        fail("schedule remove left the line or its map behind: %r" % left, result)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    for tool in ["cpack", "lintian", "dpkg", "dpkg-deb", "setpriv"]:
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed" % tool)
            return SKIP
    if os.geteuid() != 0:
        print("SKIP: the test drops to an unprivileged user, which needs root")
        return SKIP

    scratch = tempfile.mkdtemp(prefix="vexa-deb-")
    os.chmod(scratch, 0o755)
    try:
        deb = build_package(args.build_dir, os.path.join(scratch, "out"))
        check_lintian(deb)
        check_contents(deb)

        root = os.path.join(scratch, "root")
        install(deb, root)
        vexa = os.path.join(root, "usr/bin/vexa")
        if not os.access(vexa, os.X_OK):
            fail("vexa is not installed as an executable")
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        os.chown(home, NOBODY, NOBODY)
        admin = os.path.join(root, "var")
        installed = snapshot(root, skip=(admin,))

        data = os.path.join(home, ".local/share", PACKAGE) + "/"
        result = as_user(home, [vexa, "--help"])
        if result.returncode != 0 or data not in result.stdout:
            fail("vexa --help does not name the user's folder " + data, result)

        # A user whose data folder cannot be made runs no job and is told why.
        locked = os.path.join(scratch, "locked-home")
        os.makedirs(locked, mode=0o555)
        result = as_user(locked, [vexa, "analyze", "C", "--volume", "C=/nonexistent.img"])
        if result.returncode != 2 or "is not writable: reports and state cannot be saved" not in result.stderr:
            fail("an unwritable data folder did not refuse the job (exit 2, saying why)", result)

        result = as_user(home, [vexa, "demo"])
        if result.returncode != 0 or "Fragmented after:    0" not in result.stdout:
            fail("vexa demo did not run to the end as an unprivileged user", result)
        for name in ["libvexa.so", "analysisreport.html", "defragreport.html", "defragreport1.html",
                     "diskdata", "defragdate", "Setting", "preset.ini"]:
            if not os.path.isfile(data + name):
                fail("the user's folder lacks " + name)
        if oct(os.stat(data).st_mode & 0o777) != oct(0o700):
            fail("the user's folder is not private: " + oct(os.stat(data).st_mode))
        if snapshot(root, skip=(admin,)) != installed:
            fail("the run changed files of the installed package")
        written = sorted(snapshot(home))
        outside = [f for f in written
                   if not f.startswith(".local/share/%s/" % PACKAGE) and not f.startswith(".cache/vexa/")]
        if outside:
            fail("the run wrote outside the user's data and cache folders: %s" % outside)
        print("demo as an unprivileged user: %d files in its folders, installed files unchanged" % len(written))
        check_schedule(vexa, home, data, scratch)

        result = run(["dpkg", "--root=" + root, "--log=/dev/null", "--purge", PACKAGE])
        if result.returncode != 0:
            fail("dpkg --purge failed", result)
        left = sorted(snapshot(root, skip=(admin,)))
        if left:
            fail("removal left files behind: %s" % left)
        print("removal: nothing of the package is left")
        print("deb_test: all checks passed")
        return 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
