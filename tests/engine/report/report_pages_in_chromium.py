#!/usr/bin/env python3
"""Opens the report entry pages in headless Chromium and checks what a user sees.

A fresh working folder receives the delivered data files; report_page_maker writes an
analysis job (volumes C and E) and an optimized defragmentation job (C and E) into it
through the engine's report API. Then, for each entry page:
  - every src, href and srcdoc of every page and every url() of the style sheet is a
    plain relative name of a file in the working folder (static check);
  - Chromium, driven over the DevTools pipe, loads the entry page, shows the index page
    in one frame, and a mouse click on a volume link shows that volume's page inside the
    frame named mainFrame, styled, with hostile file names shown as text;
  - no new window or tab appears, and every request the browser makes stays inside the
    working folder.
Screenshots go to the artifacts folder. Exit 0 passed, 1 failed, 77 no Chromium.
Only the Python standard library is used.
"""

import argparse
import base64
import fcntl
import html.parser
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

CHROMIUM_CANDIDATES = ("/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome")
TIMEOUT = 30.0

# What each job wrote: entry page, index page, links (href, letter), the page to click,
# a text only that page holds.
JOBS = (
    {
        "entry": "analysisreport.html",
        "index": "analysisreporttop.html",
        "links": [("analysisreport1.html", "C"), ("analysisreport3.html", "E")],
        "click": "analysisreport3.html",
        "letter": "E",
        "heading": "Analysis Summary",
        "marker": "Percentage of fragments is 3.40%",
    },
    {
        "entry": "defragreport.html",
        "index": "defragreporttop.html",
        "links": [("defragreport1.html", "C"), ("defragreport2.html", "E")],
        "click": "defragreport2.html",
        "letter": "E",
        "heading": "Defragment  Summary",
        "marker": "Optimization  Details",
    },
)

HOSTILE_TEXTS = (
    "a<b>&c.txt",
    '"><img src="http://198.51.100.7/pixel.png">.bin',
    "<script src=https://example.invalid/x.js></script>.log",
    "<link rel=stylesheet href=file:///etc/vexa.css>.dat",
    "it's <!--table--> here.doc",
)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---------------------------------------------------------------- static checks

class ReferenceCollector(html.parser.HTMLParser):
    """Collects every URL-bearing attribute of a page, and the pages held in srcdoc."""

    URL_ATTRIBUTES = {"src", "href", "action", "background", "poster", "data", "formaction",
                      "cite", "longdesc", "manifest", "srcset", "codebase", "archive", "ping"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.references = []
        self.nested_documents = []
        self.tags = []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        for name, value in attrs:
            if value is None:
                continue
            if name in self.URL_ATTRIBUTES:
                self.references.append((tag, name, value))
            elif name == "srcdoc":
                self.nested_documents.append(value)
            elif name == "style" and "url(" in value:
                self.references.append((tag, name, value))


def check_reference(folder, page, reference):
    tag, attribute, value = reference
    check(attribute != "style", f"{page}: inline style with url() in <{tag}>")
    parsed = urllib.parse.urlsplit(value)
    check(not parsed.scheme and not parsed.netloc,
          f"{page}: <{tag} {attribute}={value!r}> points outside the working folder")
    check(not value.startswith("/") and ".." not in value.split("/") and "\\" not in value,
          f"{page}: <{tag} {attribute}={value!r}> is not a plain name in the working folder")
    target = urllib.parse.unquote(parsed.path)
    check(target == "" or os.path.isfile(os.path.join(folder, target)),
          f"{page}: <{tag} {attribute}={value!r}> names a file that is not there")


def static_checks(folder):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name.endswith(".html"):
            documents = [open(path, "rb").read().decode("latin-1")]
            while documents:
                collector = ReferenceCollector()
                collector.feed(documents.pop())
                collector.close()
                check("script" not in collector.tags and "img" not in collector.tags,
                      f"{name}: holds a script or image element")
                for reference in collector.references:
                    check_reference(folder, name, reference)
                documents.extend(collector.nested_documents)
        elif name.endswith(".css"):
            sheet = open(path, "rb").read().decode("latin-1")
            check("@import" not in sheet, f"{name}: imports another sheet")
            for url in re.findall(r"url\(([^)]*)\)", sheet):
                check_reference(folder, name, ("css", "url", url.strip("'\" ")))


# ---------------------------------------------------------------- DevTools pipe

class DevTools:
    """One Chromium process driven over --remote-debugging-pipe (fds 3 and 4)."""

    def __init__(self, chromium, profile, log_path):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()

        def wire_pipes():
            # Move both ends above the low numbers first, so neither overwrites the other.
            read_end = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
            write_end = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
            os.dup2(read_end, 3)
            os.dup2(write_end, 4)

        log = open(log_path, "wb")
        self.process = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--disable-extensions", "--disable-default-apps",
             "--mute-audio", "--hide-scrollbars", "--window-size=1100,800",
             f"--user-data-dir={profile}", "--remote-debugging-pipe", "about:blank"],
            preexec_fn=wire_pipes, close_fds=False,
            stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def close(self):
        try:
            if self.process.poll() is None:
                try:
                    self.send("Browser.close", timeout=5)
                except Failure:
                    pass
                try:
                    self.process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.process.kill()
                    self.process.wait()
        finally:
            os.close(self.to_browser)
            os.close(self.from_browser)

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise Failure("Chromium did not answer in time")
            ready, _, _ = select.select([self.from_browser], [], [], remaining)
            if ready:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise Failure("Chromium closed its DevTools pipe")
                self.buffer += chunk
        raw, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(raw)

    def send(self, method, params=None, session=None, timeout=TIMEOUT):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._read_message(deadline)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise Failure(f"{method} failed: {reply['error']}")
                return reply.get("result", {})
            if "method" in reply:
                self.events.append(reply)

    def pump(self, seconds):
        """Collects events for a while."""
        deadline = time.monotonic() + seconds
        try:
            while True:
                self.events.append(self._read_message(deadline))
        except Failure as failure:
            if "in time" not in str(failure):
                raise

    def wait_for(self, predicate, what, timeout=TIMEOUT):
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events:
                if predicate(event):
                    return event
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise Failure(f"gave up waiting for {what}")
            try:
                self.events.append(self._read_message(time.monotonic() + min(remaining, 0.5)))
            except Failure as failure:
                if "in time" not in str(failure):
                    raise


class Page:
    """The one tab of the browser, attached with a flat session."""

    def __init__(self, browser):
        self.browser = browser
        targets = browser.send("Target.getTargets")["targetInfos"]
        pages = [t for t in targets if t["type"] == "page"]
        check(len(pages) == 1, f"expected one tab at start, found {len(pages)}")
        self.session = browser.send("Target.attachToTarget",
                                    {"targetId": pages[0]["targetId"], "flatten": True})["sessionId"]
        for domain in ("Page", "Network", "Runtime"):
            self.call(f"{domain}.enable")
        self.call("Network.setCacheDisabled", {"cacheDisabled": True})

    def call(self, method, params=None):
        return self.browser.send(method, params, session=self.session)

    def frames(self):
        tree = self.call("Page.getFrameTree")["frameTree"]
        found = []

        def walk(node, depth):
            found.append((depth, node["frame"]))
            for child in node.get("childFrames", []):
                walk(child, depth + 1)

        walk(tree, 0)
        return found

    def evaluate(self, frame_id, expression):
        world = self.call("Page.createIsolatedWorld",
                          {"frameId": frame_id, "worldName": "report-check"})
        result = self.call("Runtime.evaluate", {
            "expression": expression, "contextId": world["executionContextId"],
            "returnByValue": True})
        check("exceptionDetails" not in result, f"script failed: {result.get('exceptionDetails')}")
        return result["result"].get("value")

    def wait_loaded(self, predicate, what):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            frames = self.frames()
            if predicate(frames):
                ready = True
                for _, frame in frames:
                    state = self.evaluate(frame["id"], "document.readyState")
                    ready = ready and state == "complete"
                if ready:
                    return frames
            self.browser.pump(0.2)
        raise Failure(f"gave up waiting for {what}; frames: {[f for _, f in self.frames()]}")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))


# ---------------------------------------------------------------- browser checks

def frame_named(frames, name):
    for _, frame in frames:
        if frame.get("name") == name:
            return frame
    return None


def frame_at(frames, url):
    for _, frame in frames:
        if frame.get("url") == url:
            return frame
    return None


def check_job(page, folder_url, job, artifacts):
    entry_url = folder_url + job["entry"]
    index_url = folder_url + job["index"]
    page_url = folder_url + job["click"]

    page.call("Page.navigate", {"url": entry_url})
    frames = page.wait_loaded(
        lambda fs: frame_at(fs, entry_url) and frame_at(fs, index_url) and frame_named(fs, "mainFrame"),
        f"{job['entry']} with its index page and mainFrame")
    top = frame_at(frames, entry_url)
    index = frame_at(frames, index_url)
    check(index.get("parentId") == top["id"], f"{job['index']} is not a frame of {job['entry']}")
    main = frame_named(frames, "mainFrame")
    check(main.get("parentId") == top["id"], f"mainFrame is not a frame of {job['entry']}")

    links = page.evaluate(index["id"], """
        Array.from(document.querySelectorAll('a')).map(a => [a.getAttribute('href'), a.target,
            a.textContent, a.closest('td') ? a.closest('td').className : ''])""")
    expected = [[href, "mainFrame", letter + ":\\", "header"] for href, letter in job["links"]]
    check(links == expected, f"index links {links}, expected {expected}")
    check(page.evaluate(index["id"], "document.querySelector('th').textContent.trim().length > 0"),
          "the index page has no label for its volume list")

    os.makedirs(artifacts, exist_ok=True)
    page.screenshot(os.path.join(artifacts, job["entry"].replace(".html", "_before.png")))

    # A real mouse click on the link, at its centre in page coordinates.
    frame_box = page.evaluate(top["id"], """(() => {
        const f = document.querySelector('iframe[name=indexFrame]') ||
                  Array.from(document.querySelectorAll('iframe, frame'))
                       .find(e => (e.getAttribute('src') || '').endsWith('top.html'));
        const r = f.getBoundingClientRect();
        return [r.left + f.clientLeft, r.top + f.clientTop];
    })()""")
    link_box = page.evaluate(index["id"], f"""(() => {{
        const r = document.querySelector('a[href="{job['click']}"]').getBoundingClientRect();
        return [r.left + r.width / 2, r.top + r.height / 2, r.width, r.height];
    }})()""")
    check(link_box[2] > 0 and link_box[3] > 0, f"the link to {job['click']} is not visible")
    x, y = frame_box[0] + link_box[0], frame_box[1] + link_box[1]
    for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
        page.call("Input.dispatchMouseEvent",
                  {"type": kind, "x": x, "y": y, "button": "left", "clickCount": 1})

    frames = page.wait_loaded(
        lambda fs: (frame_named(fs, "mainFrame") or {}).get("url") == page_url,
        f"{job['click']} inside mainFrame")
    main = frame_named(frames, "mainFrame")
    check(main.get("parentId") == top["id"], "the volume page did not open inside mainFrame")
    check(frame_at(frames, entry_url) and frame_at(frames, index_url),
          "the entry page or the index page went away on the click")
    tabs = [t for t in page.browser.send("Target.getTargets")["targetInfos"] if t["type"] == "page"]
    check(len(tabs) == 1, f"the click opened another window or tab: {tabs}")

    shown = page.evaluate(main["id"], """(() => {
        const cell = document.querySelector('td.header');
        const cells = Array.from(document.querySelectorAll('td.foot')).map(td => td.textContent);
        return {
            text: document.body.innerText,
            cells: cells,
            tables: document.querySelectorAll('table.infotable').length,
            headerColour: cell ? getComputedStyle(cell).backgroundColor : '',
            footColour: getComputedStyle(document.querySelector('td.foot')).backgroundColor,
            title: document.title,
            foreign: document.querySelectorAll('img, script, link:not([href="report.css"]), iframe').length,
        };
    })()""")
    check(job["heading"].split()[0] in shown["text"], f"{job['click']}: no '{job['heading']}'")
    check(job["marker"].split()[0] in shown["text"], f"{job['click']}: no '{job['marker']}'")
    check(shown["tables"] >= 2, f"{job['click']}: {shown['tables']} report tables")
    check(shown["title"].startswith("Tolvane Disk Defrag"), f"{job['click']}: title {shown['title']!r}")
    check(any(c.strip() == job["letter"] + ":\\" for c in shown["cells"]),
          f"{job['click']}: target volume {job['letter']}:\\ not shown")
    check(shown["headerColour"] not in ("", "rgba(0, 0, 0, 0)"),
          f"{job['click']}: the style sheet did not reach the header cells")
    check(shown["footColour"] not in ("", "rgba(0, 0, 0, 0)"),
          f"{job['click']}: the style sheet did not reach the figure cells")
    check(shown["foreign"] == 0, f"{job['click']}: file names turned into elements")
    for name in HOSTILE_TEXTS:
        shown_name = f"{job['letter']}:\\Data\\{name}"
        check(any(c == shown_name for c in shown["cells"]),
              f"{job['click']}: file name {shown_name!r} not shown as text")
    page.screenshot(os.path.join(artifacts, job["entry"].replace(".html", "_after.png")))

    # The volume page on its own prints: black on white, every row kept.
    page.call("Page.navigate", {"url": page_url})
    frames = page.wait_loaded(lambda fs: frame_at(fs, page_url) and len(fs) == 1,
                              f"{job['click']} on its own")
    printed = page.evaluate(frames[0][1]["id"], "document.querySelectorAll('tr').length")
    pdf = base64.b64decode(page.call("Page.printToPDF", {"printBackground": True})["data"])
    check(pdf.startswith(b"%PDF") and len(pdf) > 2000, f"{job['click']}: printing gave no document")
    check(printed >= 12, f"{job['click']}: only {printed} rows to print")
    with open(os.path.join(artifacts, job["click"].replace(".html", ".pdf")), "wb") as out:
        out.write(pdf)


def check_requests(events, folder_url, session):
    """Every URL the tab asked for or navigated to stays in the working folder."""
    asked = []
    for event in events:
        if event.get("sessionId") != session:
            continue
        method, params = event["method"], event.get("params", {})
        if method == "Network.requestWillBeSent":
            asked.append(params["request"]["url"])
        elif method == "Page.frameNavigated":
            asked.append(params["frame"]["url"])
        elif method == "Network.loadingFailed" and not params.get("canceled"):
            raise Failure(f"a request failed: {params}")
    local = ("about:blank", "about:srcdoc")
    outside = [u for u in asked if not u.startswith(folder_url) and u not in local]
    check(not outside, f"requests outside the working folder: {outside}")
    check(any(u == folder_url + "report.css" for u in asked),
          "the request record holds no style sheet load: the check would see nothing")
    return asked


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--maker", required=True, help="report_page_maker program")
    parser.add_argument("--data", required=True, help="folder of the delivered data files")
    parser.add_argument("--artifacts", required=True, help="folder for screenshots")
    parser.add_argument("--chromium", default=None)
    args = parser.parse_args()

    chromium = args.chromium or next((c for c in CHROMIUM_CANDIDATES if os.access(c, os.X_OK)), None)
    if not chromium:
        print("Chromium is not installed: skipped")
        return 77

    scratch = tempfile.mkdtemp(prefix="vexa_report_browser_")
    browser = None
    try:
        folder = os.path.join(scratch, "vexa")
        os.makedirs(folder)
        for name in os.listdir(args.data):
            if name.endswith((".html", ".css")):
                shutil.copy(os.path.join(args.data, name), folder)
        subprocess.run([args.maker, folder + "/"], check=True, timeout=60)
        static_checks(folder)

        folder_url = "file://" + urllib.parse.quote(folder) + "/"
        os.makedirs(args.artifacts, exist_ok=True)
        browser = DevTools(chromium, os.path.join(scratch, "profile"),
                           os.path.join(args.artifacts, "chromium.log"))
        page = Page(browser)
        for job in JOBS:
            check_job(page, folder_url, job, args.artifacts)
        browser.pump(0.5)
        asked = check_requests(browser.events, folder_url, page.session)
        print(f"passed: {len(JOBS)} entry pages, {len(asked)} requests, all in the working folder")
        return 0
    except (Failure, subprocess.CalledProcessError, subprocess.TimeoutExpired) as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        if browser:
            browser.close()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
