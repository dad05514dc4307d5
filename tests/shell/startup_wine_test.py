#!/usr/bin/env python3
"""DefragShell's start-up under wine64 and Xvfb: the "CheckUpdate" switch, the update
check against a loopback HTTP server on 127.0.0.1 (newer, equal, older, missing key, 404,
no listener, a server that never answers), the updater started on Yes (a stand-in that
records its start) or missing, the splash, About and Help.

    startup_wine_test.py --program DefragShell.exe --probe window_probe.exe --standin update_standin.exe --artifacts DIR

Exit 77 (skipped) when a tool is missing."""

import argparse
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from shell_wine_test import Failure, Session, check  # noqa: E402

SKIP = 77
KEY = "HKCU\\Software\\Tolvane Disk Defrag"
# The installed version and the server hosts are read from the machine's key only.
MACHINE_KEY = "HKLM\\Software\\Tolvane Disk Defrag"
MACHINE_VALUES = ("Version", "UpdateHost", "HelpHost")
UPDATE_PATH = "/products/system-utility/tolvane-disk-defrag/update/Update.ini"
HELP_PATH = "/products/system-utility/tolvane-disk-defrag/help"
QUESTION = "A newer version of Tolvane Disk Defrag is available. Would you like to update now?"


class UpdateServer:
    """A loopback HTTP server whose answer the test sets: a body, a status, or silence."""

    def __init__(self):
        self.body = b""
        self.status = 200
        self.silent = False
        self.requests = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                server.requests.append(self.path)
                if server.silent:
                    time.sleep(20)
                    return
                self.send_response(server.status)
                self.send_header("Content-Length", str(len(server.body)))
                self.end_headers()
                self.wfile.write(server.body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def focus_message_box(session):
    """Gives the keyboard focus to the message box over the splash (the one window titled
    like the program that is not the splash's size)."""
    found = subprocess.run(["xdotool", "search", "--name", "^Tolvane Disk Defrag$"], env=session.env,
                           capture_output=True, text=True).stdout.split()
    for window in found:
        geometry = subprocess.run(["xdotool", "getwindowgeometry", window], env=session.env,
                                  capture_output=True, text=True).stdout
        if "452x252" not in geometry and "850x610" not in geometry:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, capture_output=True,
                           timeout=10)
            time.sleep(0.3)
            return


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Startup:
    def __init__(self, session, install):
        self.s = session
        self.install = install
        self.program = os.path.join(install, "DefragShell.exe")
        self.process = None

    def reg(self, *args):
        return self.s.wine("reg", *args)

    def set_values(self, **values):
        self.reg("delete", KEY, "/f")
        self.reg("delete", MACHINE_KEY, "/f")
        for name, data in values.items():
            self.reg("add", MACHINE_KEY if name in MACHINE_VALUES else KEY, "/v", name, "/d", data, "/f")

    def value(self, name):
        out = self.reg("query", KEY, "/v", name).stdout
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == name:
                return parts[2] if len(parts) == 3 else ""
        return None

    def start(self):
        for name in ("Update.ini", "Update.started"):
            if os.path.exists(os.path.join(self.install, name)):
                os.remove(os.path.join(self.install, name))
        self.started = time.time()
        self.process = subprocess.Popen(["wine", self.program], cwd=tempfile.gettempdir(), env=self.s.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_main(self, timeout=180):
        """Seconds from the start to the main window; None when it did not appear."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            window, controls = self.s.probe()
            if window is not None and len(controls) >= 20:
                return time.time() - self.started
            time.sleep(0.2)
        return None

    def wait_question(self, timeout=30):
        return self.s.wait_message(timeout)

    def close(self):
        if self.process is not None and self.process.poll() is None:
            self.s.click(816, 9)  # CloseBtn
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.process = None


def run(args, work):
    for tool in ("wine", "Xvfb", "xdotool", "import"):
        if shutil.which(tool) is None:
            print("skipped: missing " + tool)
            sys.exit(SKIP)
    session = Session(args, work)
    install = os.path.join(work, "DefragShell")
    stage = os.path.dirname(os.path.abspath(args.program))
    shutil.copytree(stage, install, ignore=shutil.ignore_patterns(
        "*report[0-9]*.html", "*reporttop.html", "diskdata", "defragdate", "FileList.txt", "volumes.ini", "*.img"))
    opened = os.path.join(work, "opened.txt")
    recorder = os.path.join(work, "browser.sh")
    with open(recorder, "w") as f:
        f.write("#!/bin/sh\necho \"$@\" >> '%s'\n" % opened)
    os.chmod(recorder, 0o755)
    server = UpdateServer()
    app = Startup(session, install)
    session.start_display()
    try:
        session.wine("reg", "add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers", "/d", recorder, "/f")
        host = "127.0.0.1:%d" % server.port

        # --- no switch: written as "0", no request, the splash then the window ------------
        app.set_values()
        app.start()
        deadline = time.time() + 60
        splash = None
        while splash is None and time.time() < deadline:
            splash = session.probe("TFrm_Login")[0]
        if splash is not None:
            session.screenshot("splash")
            check(tuple(splash[2:4]) == (452, 252), "splash size %s" % (splash,))
        if app.wait_main() is None:
            session.screenshot("no-main-window")
            raise Failure("the main window did not appear without the switch")
        check(app.value("CheckUpdate") == "0", "CheckUpdate was not written as 0: %r" % app.value("CheckUpdate"))
        check(server.requests == [], "a request was made with the switch off: %s" % server.requests)

        # --- About: centred on the main window, closed by OK --------------------------------
        main = session.probe()[0]
        session.click(148 + 18, 591 + 7)  # AboutBtn
        about = None
        deadline = time.time() + 15
        while about is None and time.time() < deadline:
            about = session.probe("TFrm_About")[0]
        check(about is not None, "About did not open")
        session.screenshot("about")
        check(tuple(about[2:4]) == (493, 350), "About size %s" % (about,))
        check(abs(about[0] - (main[0] + (850 - 493) // 2)) <= 1 and abs(about[1] - (main[1] + (610 - 350) // 2)) <= 1,
              "About not centred on the main window: %s over %s" % (about, main))
        session.xdotool("mousemove", str(about[0] + 340 + 44), str(about[1] + 266 + 11), "sleep", "0.2", "click", "1")
        deadline = time.time() + 10
        while session.probe("TFrm_About")[0] is not None and time.time() < deadline:
            time.sleep(0.2)
        check(session.probe("TFrm_About")[0] is None, "OK did not close About")
        # A click on the picture closes it too.
        session.click(148 + 18, 591 + 7)
        deadline = time.time() + 15
        about = None
        while about is None and time.time() < deadline:
            about = session.probe("TFrm_About")[0]
        check(about is not None, "About did not open a second time")
        session.xdotool("mousemove", str(about[0] + 100), str(about[1] + 200), "sleep", "0.2", "click", "1")
        deadline = time.time() + 10
        while session.probe("TFrm_About")[0] is not None and time.time() < deadline:
            time.sleep(0.2)
        check(session.probe("TFrm_About")[0] is None, "a click on the picture did not close About")

        # --- Help: the web help when no help file is beside the program ---------------------
        chm = os.path.join(install, "Tolvane Disk Defrag.chm")
        check(os.path.exists(chm), "the build did not put the help file beside the program")
        os.rename(chm, chm + ".off")
        app.reg("add", MACHINE_KEY, "/v", "HelpHost", "/d", host, "/f")
        session.click(94 + 15, 591 + 7)  # HelpBtn
        deadline = time.time() + 20
        while not (os.path.exists(opened) and HELP_PATH in open(opened).read()) and time.time() < deadline:
            time.sleep(0.3)
        check(os.path.exists(opened) and ("http://%s%s" % (host, HELP_PATH)) in open(opened).read(),
              "Help did not open the web help page: %r" % (open(opened).read() if os.path.exists(opened) else None))
        os.rename(chm + ".off", chm)
        app.close()

        # --- the update check: each answer of the server --------------------------------------
        def check_run(name, version, body=None, status=200, expect_question=False, answer="n", listener=True,
                      silent=False, updater=False, kept=True):
            server.body = body if body is not None else b""
            server.status = status
            server.silent = silent
            server.requests.clear()
            values = {"CheckUpdate": "1", "UpdateHost": host if listener else "127.0.0.1:%d" % free_port()}
            if version is not None:
                values["Version"] = version
            app.set_values(**values)
            updater_path = os.path.join(install, "Update.exe")
            if updater:
                shutil.copy(args.standin, updater_path)
            elif os.path.exists(updater_path):
                os.remove(updater_path)
            app.start()
            if expect_question:
                text = app.wait_question(30)
                session.screenshot("question-" + name)
                check(text == QUESTION, "%s: question was %r" % (name, text))
                # The box is owned by the splash, which takes no input: give the box the
                # keyboard focus, then answer (Yes is the default button; Tab reaches No).
                focus_message_box(session)
                if answer == "y":
                    session.key("Return")
                else:
                    session.key("Tab", "Return")
                if answer == "y" and updater:
                    try:
                        app.process.wait(timeout=30)
                    except subprocess.TimeoutExpired:
                        raise Failure("%s: DefragShell did not end after starting the updater" % name)
                    deadline = time.time() + 15
                    started = os.path.join(install, "Update.started")
                    while not os.path.exists(started) and time.time() < deadline:
                        time.sleep(0.2)
                    check(os.path.exists(started), "%s: Update.exe was not started" % name)
                    check(session.probe()[0] is None, "%s: the main window appeared after Yes" % name)
                    app.process = None
                    return None
                if answer == "y":
                    text = session.wait_message(15)
                    session.screenshot("updater-missing")
                    check(text == "Update.exe could not be started.", "%s: message was %r" % (name, text))
                    focus_message_box(session)
                    session.close_message()
            elapsed = app.wait_main()
            check(elapsed is not None, "%s: the main window did not appear" % name)
            if not expect_question:
                check(session.probe("#32770")[0] is None, "%s: a question was asked" % name)
            if listener and args.plain_http:
                # Over HTTPS the plain server reads a TLS greeting, not a request line.
                check(server.requests == [UPDATE_PATH], "%s: requests %s" % (name, server.requests))
            ini = os.path.join(install, "Update.ini")
            if status == 200 and listener and not silent and kept:
                check(open(ini, "rb").read() == server.body, "%s: Update.ini is not the body" % name)
            else:
                check(not os.path.exists(ini), "%s: a failed download left Update.ini" % name)
            check(not os.path.exists(ini + ".download"), "%s: a partial download was left" % name)
            app.close()
            return elapsed

        newer = b"[Version]\r\nVer=10.0\r\n"
        usual = 0
        if args.plain_http:
            check_run("newer", "9.0", newer, expect_question=True, answer="n")
            usual = max(check_run("equal", "10.0", newer), check_run("older", "10.1", newer))
            check_run("missing-key", "1.0", b"[Version]\r\nName=x\r\n")
            check_run("missing-section", "1.0", b"[Other]\r\nVer=99\r\n")
            check_run("not-found", "1.0", b"[Version]\r\nVer=99\r\n", status=404)
            check_run("too-long", "1.0", newer + b";" * (64 * 1024), kept=False)
        else:
            print("this build asks only over HTTPS: the answers of the plain loopback server are not checked")
        usual = max(usual, check_run("no-listener", "1.0", listener=False))
        elapsed = check_run("silent", "1.0", silent=True)
        print("silent server: main window after %.1f s (%.1f s with a server that answers)" % (elapsed, usual))
        # The check gives up after its 5 s timeout (and 2 s for its thread to end); how
        # long wine takes to show the window besides is measured on the runs above.
        check(elapsed < usual + 10, "a silent server held the start-up for %.1f s (%.1f s with a server that answers)"
              % (elapsed, usual))
        if args.plain_http:
            check_run("no-version", None, b"[Version]\r\nVer=1.0\r\n", expect_question=True, answer="n")
            check_run("updater-missing", "9.0", newer, expect_question=True, answer="y")
            check_run("updater", "9.0", newer, expect_question=True, answer="y", updater=True)
        print("startup_wine_test: all checks passed")
    finally:
        app.close()
        server.close()
        session.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--plain-http", action="store_true", help="the build may fetch Update.ini over plain HTTP")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="vexa-startup-")
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
