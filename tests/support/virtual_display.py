"""The X display the wine tests draw on: the one named by VEXA_TEST_DISPLAY, or an Xvfb
that picks a free display number itself.

Xvfb writes its display number to the -displayfd pipe at every server generation, so
the server runs with -noreset: without it the first generation that follows the last
client's disconnect (a probe, a screenshot, wineboot) finds the pipe closed and the
server ends with "Cannot write display number". A server that dies before it answers
is started again, a few times.

    display = VirtualDisplay((1280, 1024))
    env["DISPLAY"] = display.name
    ...
    display.close()
"""

import os
import subprocess
import time

ATTEMPTS = 3


def answers(name):
    """Whether an X server accepts connections on display `name`."""
    try:
        return subprocess.run(["xdpyinfo", "-display", name], capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        # Without xdpyinfo, the server's socket is the best sign there is.
        return os.path.exists("/tmp/.X11-unix/X" + name.lstrip(":"))


class DisplayError(Exception):
    pass


class VirtualDisplay:
    def __init__(self, size=(1280, 1024)):
        self.process = None
        self.screen = "%dx%dx24" % size
        wanted = os.environ.get("VEXA_TEST_DISPLAY", "")
        if wanted:
            self.name = ":" + wanted.lstrip(":")
            if answers(self.name):
                return  # somebody else's server: used, never stopped
        last = "no attempt"
        for _ in range(ATTEMPTS):
            last = self._start(wanted)
            if last is None:
                return
            self.close()
        raise DisplayError("the virtual display did not start: %s" % last)

    def _start(self, wanted):
        """Starts one server; None when it answers, else why not."""
        arguments = ["Xvfb", "-screen", "0", self.screen, "-nolisten", "tcp", "-noreset"]
        if wanted:
            self.process = subprocess.Popen(arguments + [self.name], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
        else:
            read, write = os.pipe()
            self.process = subprocess.Popen(arguments + ["-displayfd", str(write)], pass_fds=(write,),
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write)
            number = b""
            while not number.endswith(b"\n"):
                chunk = os.read(read, 16)
                if not chunk:
                    break
                number += chunk
            os.close(read)
            if not number.strip().isdigit():
                return "Xvfb exited (%s) before it named a display" % self.process.wait(timeout=10)
            self.name = ":" + number.decode().strip()
        deadline = time.time() + 15
        while time.time() < deadline:
            if self.process.poll() is not None:
                return "Xvfb exited (%d)" % self.process.returncode
            if answers(self.name):
                return None
            time.sleep(0.1)
        return "display %s did not answer in 15 s" % self.name

    def alive(self):
        return self.process is None or self.process.poll() is None

    def close(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
