#!/usr/bin/python3
"""How many of the words visible on a real X11 desktop the capture reads.

Each scene is a real desktop: its own Xvfb screen (1600x1000 or 1920x1080) with openbox and a
private session bus, real X clients (xterm in several monospace fonts, sizes and colour schemes;
headed Chromium showing generated local pages; zenity and mousepad for GTK, featherpad for Qt)
in single, side-by-side and overlapping windows. The scene is captured through the real path,
`vistrel-cli capture --ticks 1` into a temporary history, and the stored lines
(`vistrel-cli --json show ID`) are scored against the words visible on the screen:

- xterm prints exactly the rows its geometry holds, none wrapped; where windows overlap, only the
  words whose character cells all lie in the window's visible part count (cell boxes from the
  window's client size, rows and columns and its 2-pixel inner border; the windows above it cover
  their whole frame);
- Chromium's page collects, once laid out, the words whose boxes (Range.getClientRects) lie inside
  the viewport and logs them to the browser's stderr;
- the editors show a short file whose lines all fit.

Words are runs of two or more letters or digits, compared case-insensitively. Recall is the share
of the visible word occurrences found among the words read in the same capture, each word read
used once. Every visible word is also matched to a read line at its own place where it can be, so
that a word read elsewhere on the screen does not hide which row lost it; the totals are the same
as a plain multiset count.

    bench/desktop-corpus.sh [--quick] [--json] [--keep DIR] [--only TEXT]

Run through bench/desktop-corpus.sh, which installs the clients and builds vistrel-cli."""

import argparse
import collections
import json
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WORD = re.compile(r"[A-Za-z0-9]+")


def tokens(text):
    return [word.lower() for word in WORD.findall(text) if len(word) >= 2]


def is_hex_string(word):
    digits = word[2:] if word.startswith("0x") else word
    return (len(digits) >= 8 and all(c in "0123456789abcdef" for c in digits)
            and any(c.isdigit() for c in digits) and any(c.isalpha() for c in digits))


# The classes reported, in the order printed.
OVERALL = "overall"
TITLE_ACTIVE = "first row under an active title bar"
TITLE_INACTIVE = "first row under an inactive title bar"
SCREEN_1080 = "1920x1080 screens"
SCREEN_1000 = "1600x1000 screens"
SINGLE = "single windows"
SIDE_BY_SIDE = "side-by-side windows"
OVERLAPPING = "overlapping windows"
LIGHT = "light terminal schemes"
DARK = "dark terminal schemes"
COLOURED = "coloured terminal schemes"
SMALL = "terminal text 10-12 px"
TERMINAL = "xterm"
CHROMIUM = "Chromium"
GTK = "GTK (zenity, mousepad)"
QT = "Qt (featherpad)"
HEX = "long hexadecimal strings"
SIDEBAR = "sidebar list items"
CLASSES = [OVERALL, TITLE_ACTIVE, TITLE_INACTIVE, SCREEN_1080, SCREEN_1000, SINGLE, SIDE_BY_SIDE,
           OVERLAPPING, LIGHT, DARK, COLOURED, SMALL, TERMINAL, CHROMIUM, GTK, QT, HEX, SIDEBAR]

SCHEMES = {
    "dark": ("#000000", "#e5e5e5", DARK),
    "light": ("#ffffff", "#000000", LIGHT),
    "solarized": ("#002b36", "#93a1a1", COLOURED),
}


class CorpusError(Exception):
    pass


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise CorpusError("timed out waiting for " + what)
        time.sleep(0.1)


# --- the texts shown ------------------------------------------------------------------------

NOUNS = """shipment invoice warehouse ledger harbour customer order parcel report budget
schedule meeting contract supplier carrier manifest pallet container voyage freight station
kernel module package library compiler linker archive release branch commit review pipeline
server cluster volume snapshot backup mirror socket thread process buffer cache journal index
garden river mountain village market bridge window lantern orchard meadow valley harvest
tamarind almond cinnamon saffron pepper ginger walnut apricot lemon olive barley""".split()
VERBS = """accepted rejected shipped delayed received updated merged deployed restored archived
compiled linked signed verified scheduled cancelled approved measured counted weighed loaded
checked started finished opened closed moved copied renamed printed""".split()
ADJECTIVES = """northern southern eastern western quarterly monthly urgent pending final early
late quiet heavy light narrow broad green amber silver golden frozen fresh local remote""".split()
NAMES = """maria jonas priya tomasz aisha lukas elena kenji fatima oscar ingrid rafael""".split()
COMPONENTS = """scheduler worker-3 gateway billing storage indexer mailer auth-proxy
exporter planner""".split()
FILES = """invoice-report.txt budget-2026.ods harbour-manifest.csv release-notes.md main.cpp
Makefile build.ninja config.yaml schedule.json photos-archive.tar backup.sql readme.txt
ledger.db install.sh compiler-flags.txt orchard-map.svg""".split()
PACKAGES = """gfortran binutils gcc-12 cmake ninja-build libstdc++6 python3-numpy zlib1g
libssl-dev openssh-client git-core pkg-config autoconf automake libtool bison flex gdb
valgrind strace rsync curl wget""".split()
CODE = [
    "def load_manifest(path, strict=False):",
    "    with open(path) as stream:",
    "        rows = [parse_row(line) for line in stream]",
    "    totals = collections.Counter(row.carrier for row in rows)",
    "    if strict and not rows:",
    "        raise ValueError('empty manifest: ' + path)",
    "    return rows, totals",
    "",
    "class Warehouse:",
    "    def __init__(self, name, capacity):",
    "        self.name = name",
    "        self.capacity = capacity",
    "        self.pallets = []",
    "",
    "    def store(self, pallet):",
    "        if len(self.pallets) >= self.capacity:",
    "            return False",
    "        self.pallets.append(pallet)",
    "        return True",
]


class Texts:
    """Lines of the kinds seen in terminals and documents, from a seeded generator."""

    def __init__(self, seed):
        self.random = random.Random(seed)

    def pick(self, words):
        return self.random.choice(words)

    def hex(self, digits):
        return "".join(self.random.choice("0123456789abcdef") for _ in range(digits))

    def sentence(self, words=None):
        r = self.random
        words = words or r.randint(6, 12)
        out = []
        for i in range(words):
            kind = r.random()
            if kind < 0.45:
                out.append(self.pick(NOUNS))
            elif kind < 0.65:
                out.append(self.pick(VERBS))
            elif kind < 0.8:
                out.append(self.pick(ADJECTIVES))
            elif kind < 0.9:
                out.append(str(r.randint(10, 99999)))
            else:
                out.append(r.choice(["for", "from", "with", "into", "after", "and", "per"]))
        text = " ".join(out)
        return text[0].upper() + text[1:]

    def log(self):
        r = self.random
        return "2026-12-%02d %02d:%02d:%02d %-5s %s: %s" % (
            r.randint(1, 28), r.randint(0, 23), r.randint(0, 59), r.randint(0, 59),
            r.choice(["INFO", "WARN", "DEBUG", "ERROR"]), self.pick(COMPONENTS),
            self.sentence().lower())

    def listing(self):
        r = self.random
        return "-rw-r--r-- 1 %s staff %8d Dec %2d %02d:%02d %s" % (
            self.pick(NAMES), r.randint(100, 9999999), r.randint(1, 28), r.randint(0, 23),
            r.randint(0, 59), self.pick(FILES))

    def commit(self):
        return "%s %s" % (self.hex(7), self.sentence())

    def checksum(self):
        return "%s  release/%s" % (self.hex(self.random.choice([16, 32, 40])), self.pick(FILES))

    def terminal_lines(self, kind, columns, rows):
        """rows lines of at most columns - 1 characters, the first one never empty."""
        makers = {
            "log": [self.log],
            "listing": [self.listing],
            "git": [self.commit],
            "hex": [self.checksum, self.checksum, self.log],
            "mixed": [self.log, self.listing, self.commit, self.checksum],
        }
        lines = []
        code = iter(CODE * 10)
        while len(lines) < rows:
            if kind == "code":
                line = next(code)
            else:
                line = self.random.choice(makers[kind])()
            lines.append(fit(line, columns - 1))
        if kind == "code" or not lines[0].strip():
            lines[0] = fit("$ cat " + self.pick(FILES) + " # " + self.sentence(), columns - 1)
        return lines


def fit(line, width):
    """The line cut at the last word boundary within width characters."""
    if len(line) <= width:
        return line
    cut = line.rfind(" ", 0, width + 1)
    return line[:cut if cut > 0 else width].rstrip()


# --- the desktop ----------------------------------------------------------------------------

def read_line(fd, timeout):
    deadline = time.monotonic() + timeout
    data = b""
    while not data.endswith(b"\n"):
        if time.monotonic() > deadline:
            raise CorpusError("no answer from a helper")
        chunk = os.read(fd, 256)
        if not chunk:
            raise CorpusError("a helper ended early")
        data += chunk
    return data.decode().strip()


class Rect:
    def __init__(self, x, y, w, h):
        self.x, self.y, self.w, self.h = x, y, w, h

    @property
    def right(self):
        return self.x + self.w

    @property
    def bottom(self):
        return self.y + self.h

    def contains(self, other):
        return (other.x >= self.x and other.y >= self.y and other.right <= self.right
                and other.bottom <= self.bottom)

    def intersects(self, other):
        return (other.x < self.right and self.x < other.right and other.y < self.bottom
                and self.y < other.bottom)

    def __repr__(self):
        return "%dx%d+%d+%d" % (self.w, self.h, self.x, self.y)


class Desktop:
    """Xvfb of one size with openbox and a private session bus, for several scenes."""

    def __init__(self, width, height, root):
        self.width, self.height = width, height
        self.root = tempfile.mkdtemp(prefix="desktop-%d-" % width, dir=root)
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": self.root,
            "LANG": "C.UTF-8",
            "NO_AT_BRIDGE": "1",
        }
        self.helpers = []
        self.clients = []
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    def _start(self):
        read_end, write_end = os.pipe()
        self.helpers.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (self.width, self.height), "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True))
        os.close(write_end)
        self.env["DISPLAY"] = ":" + read_line(read_end, 20)
        os.close(read_end)

        read_end, write_end = os.pipe()
        self.helpers.append(subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile",
             "--print-address=" + str(write_end)], pass_fds=(write_end,), env=self.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))
        os.close(write_end)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = read_line(read_end, 20)
        os.close(read_end)

        # openbox sometimes ends at once on a server that has only just started.
        for _ in range(5):
            openbox = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       start_new_session=True)
            self.helpers.append(openbox)
            wait_for(lambda: self.window_manager_running() or openbox.poll() is not None, 15,
                     "openbox")
            if openbox.poll() is None:
                return
            time.sleep(0.5)
        raise CorpusError("openbox does not start on " + self.env["DISPLAY"])

    def window_manager_running(self):
        return "window id" in self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")

    def run(self, *args, check=False):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=60)
        if check and result.returncode != 0:
            raise CorpusError("%s failed: %s" % (" ".join(args), result.stderr.strip()))
        return result.stdout

    def spawn(self, args, log=None):
        process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=log or subprocess.DEVNULL,
                                   stderr=log or subprocess.DEVNULL, start_new_session=True)
        self.clients.append(process)
        return process

    def close_clients(self):
        stop(self.clients)
        self.clients = []
        wait_for(lambda: not self.client_windows(), 15, "the windows to close")

    def close(self):
        stop(self.clients)
        stop(list(reversed(self.helpers)))
        shutil.rmtree(self.root, ignore_errors=True)

    # --- windows ----------------------------------------------------------------------------

    def client_windows(self):
        """The managed windows, bottom to top."""
        answer = self.run("xprop", "-root", "_NET_CLIENT_LIST_STACKING")
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", answer)]

    def find_window(self, title_pattern, timeout=30):
        def found():
            for window in self.run("xdotool", "search", "--onlyvisible", "--name",
                                   title_pattern).split():
                if int(window) in self.client_windows():
                    return int(window)
            return None
        return wait_for(found, timeout, "a window named like %r" % title_pattern)

    def client_rect(self, window):
        info = self.run("xwininfo", "-id", str(window), check=True)

        def field(name):
            return int(re.search(name + r":\s+(-?\d+)", info).group(1))
        return Rect(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                    field("Width"), field("Height"))

    def frame_rect(self, window):
        client = self.client_rect(window)
        answer = self.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS")
        extents = [int(n) for n in re.findall(r"\d+", answer.split("=")[-1])] \
            if "=" in answer else [0, 0, 0, 0]
        left, right, top, bottom = (extents + [0, 0, 0, 0])[:4]
        return Rect(client.x - left, client.y - top, client.w + left + right,
                    client.h + top + bottom)

    def active_window(self):
        match = re.search(r"0x[0-9a-f]+", self.run("xprop", "-root", "_NET_ACTIVE_WINDOW"))
        return int(match.group(0), 16) if match else None

    def move(self, window, x, y, width=None, height=None):
        if width:
            self.run("xdotool", "windowsize", "--sync", str(window), str(width), str(height))
        self.run("xdotool", "windowmove", "--sync", str(window), str(x), str(y))


def stop(processes):
    for process in processes:
        if process.poll() is None:
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
    for process in processes:
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


# --- what a scene shows ---------------------------------------------------------------------

class Word:
    """One visible word occurrence: its text, its box on the screen where known, its classes."""

    def __init__(self, text, rect, classes, where):
        self.text = text
        self.rect = rect
        self.classes = classes
        self.where = where


class Terminal:
    def __init__(self, font, px, scheme, columns, rows, x, y, kind, seed, first=None):
        self.font, self.px, self.scheme = font, px, scheme
        self.columns, self.rows, self.x, self.y = columns, rows, x, y
        self.lines = Texts(seed).terminal_lines(kind, columns, rows)
        if first:
            self.lines[0] = first
        # No word or number of the texts in a title: a title read is never a word found.
        self.title = "shell %s%s %s %dpx" % (chr(97 + seed // 26), chr(97 + seed % 26),
                                             font.split()[0].lower(), px)

    def open(self, desktop, folder):
        path = os.path.join(folder, self.title.replace(" ", "-") + ".txt")
        with open(path, "w") as f:
            f.write("\n".join(self.lines))  # no newline after the last row: nothing scrolls
        background, foreground, _ = SCHEMES[self.scheme]
        self.process = desktop.spawn([
            "xterm", "-fa", "%s:pixelsize=%d" % (self.font, self.px),
            "-geometry", "%dx%d+%d+%d" % (self.columns, self.rows, self.x, self.y),
            "-bg", background, "-fg", foreground, "-T", self.title,
            "-e", "sh", "-c", 'printf "\\033[?25l"; cat "$0"; exec sleep 100000', path])
        self.window = desktop.find_window("^%s$" % self.title)

    def printed(self):
        """Whether the shell has written every row (it then waits as sleep)."""
        pid = self.process.pid
        try:
            with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                children = f.read().split()
            for child in children:
                with open("/proc/%s/comm" % child) as f:
                    if f.read().strip() == "sleep":
                        return True
        except OSError:
            pass
        return False

    def settle(self, desktop):
        wait_for(self.printed, 30, "%s to print its rows" % self.title)
        time.sleep(0.5)

    def words(self, desktop, classes):
        client = desktop.client_rect(self.window)
        border = 2
        cell_w = (client.w - 2 * border) / self.columns
        cell_h = (client.h - 2 * border) / self.rows
        if cell_w != int(cell_w) or cell_h != int(cell_h):
            raise CorpusError("%s: %s does not hold %dx%d whole cells" %
                              (self.title, client, self.columns, self.rows))
        scheme_class = SCHEMES[self.scheme][2]
        title_class = TITLE_ACTIVE if desktop.active_window() == self.window else TITLE_INACTIVE
        result = []
        for row, line in enumerate(self.lines):
            for match in WORD.finditer(line):
                if len(match.group(0)) < 2:
                    continue
                rect = Rect(client.x + border + match.start() * cell_w,
                            client.y + border + row * cell_h,
                            (match.end() - match.start()) * cell_w, cell_h)
                word_classes = set(classes) | {TERMINAL, scheme_class}
                if self.px <= 12:
                    word_classes.add(SMALL)
                if row == 0:
                    word_classes.add(title_class)
                result.append(Word(match.group(0).lower(), rect, word_classes,
                                   "%s row %d" % (self.title, row)))
        return result


class Browser:
    def __init__(self, page, x, y, width, height):
        self.page, self.x, self.y, self.width, self.height = page, x, y, width, height

    def open(self, desktop, folder):
        self.title = self.page.title
        path = os.path.join(folder, self.page.name + ".html")
        with open(path, "w") as f:
            f.write(self.page.html())
        self.log_path = os.path.join(folder, self.page.name + ".chromium.log")
        log = open(self.log_path, "w")
        args = ["chromium", "--user-data-dir=" + os.path.join(folder, "chromium-profile"),
                "--no-first-run", "--no-default-browser-check", "--disable-gpu",
                "--password-store=basic", "--disable-features=Translate", "--test-type",
                "--enable-logging=stderr", "--v=0",
                "--window-position=%d,%d" % (self.x, self.y),
                "--window-size=%d,%d" % (self.width, self.height), "file://" + path]
        if os.geteuid() == 0:
            args.insert(1, "--no-sandbox")
        desktop.spawn(args, log=log)
        log.close()
        self.window = desktop.find_window("^%s - Chromium$" % re.escape(self.title), 60)

    def reports(self):
        with open(self.log_path, errors="replace") as f:
            return re.findall(r'"CORPUS (\{.*\})"', f.read())

    def settle(self, desktop):
        wait_for(self.reports, 60, "the page's word report")
        # A late resize (an info bar, the window manager's placement) reports again.
        count = len(self.reports())
        time.sleep(1.5)
        while len(self.reports()) != count:
            count = len(self.reports())
            time.sleep(1.0)

    def words(self, desktop, classes):
        report = json.loads(self.reports()[-1])
        client = desktop.client_rect(self.window)
        side = (client.w - report["w"]) // 2
        left = client.x + side
        top = client.y + client.h - report["h"] - side
        result = []
        for text, x0, y0, x1, y1, inside, cls in report["words"]:
            if not inside:
                continue
            word_classes = set(classes) | {CHROMIUM}
            if cls == "sidebar":
                word_classes.add(SIDEBAR)
            result.append(Word(text.lower(), Rect(left + x0, top + y0, x1 - x0, y1 - y0),
                               word_classes, "%s at %d,%d" % (self.page.name, x0, y0)))
        return result


class Editor:
    """zenity --text-info or mousepad (GTK) or featherpad (Qt) showing a short file."""

    def __init__(self, program, lines, x, y, width, height, name):
        self.program, self.lines = program, lines
        self.x, self.y, self.width, self.height, self.name = x, y, width, height, name

    def open(self, desktop, folder):
        path = os.path.join(folder, self.name)
        with open(path, "w") as f:
            f.write("\n".join(self.lines) + "\n")
        if self.program == "zenity":
            title = "Reading %s" % self.name
            desktop.spawn(["zenity", "--text-info", "--filename=" + path, "--title=" + title,
                           "--width=%d" % self.width, "--height=%d" % self.height])
            pattern = "^%s$" % re.escape(title)
        else:
            desktop.spawn([self.program, path])
            pattern = re.escape(self.name)
        self.window = desktop.find_window(pattern, 30)
        desktop.move(self.window, self.x, self.y, self.width, self.height)

    def settle(self, desktop):
        # FeatherPad run by root lays a "Root Instance" bar over the text for several seconds.
        time.sleep(12 if self.program == "featherpad" and os.geteuid() == 0 else 1.5)

    def words(self, desktop, classes):
        kit = QT if self.program == "featherpad" else GTK
        return [Word(t, None, set(classes) | {kit}, "%s line %d" % (self.name, row))
                for row, line in enumerate(self.lines) for t in tokens(line)]


# --- the pages ------------------------------------------------------------------------------

REPORTER = """
<script>
// Reports the words whose boxes all lie inside the viewport, with the page's own class of
// their element (data-cls), once the fonts are in and again after every resize.
function report() {
  const width = innerWidth, height = innerHeight, words = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node; (node = walker.nextNode());) {
    const pattern = /[A-Za-z0-9]+/g;
    for (let m; (m = pattern.exec(node.data));) {
      if (m[0].length < 2) continue;
      const range = document.createRange();
      range.setStart(node, m.index);
      range.setEnd(node, m.index + m[0].length);
      const boxes = [...range.getClientRects()].filter(b => b.width > 0);
      if (!boxes.length) continue;
      const inside = boxes.every(b => b.left >= 0 && b.top >= 0 && b.right <= width &&
                                      b.bottom <= height);
      const tagged = node.parentElement.closest('[data-cls]');
      const first = boxes[0], last = boxes[boxes.length - 1];
      words.push([m[0], Math.round(first.left), Math.round(first.top), Math.round(last.right),
                  Math.round(last.bottom), inside ? 1 : 0, tagged ? tagged.dataset.cls : '']);
    }
  }
  console.log('CORPUS ' + JSON.stringify({w: width, h: height, words: words}));
}
document.fonts.ready.then(() => requestAnimationFrame(() => requestAnimationFrame(report)));
addEventListener('resize', report);
</script>
"""


class Page:
    """A generated documentation page: a sidebar list of packages (plain, or as a file tree
    draws it: an icon before each item and one item selected), prose, a table of long
    hexadecimal checksums and a code block."""

    def __init__(self, name, title, seed, dark=False, font="DejaVu Sans", size=15, icons=False):
        self.name, self.title, self.seed = name, title, seed
        self.dark, self.font, self.size, self.icons = dark, font, size, icons

    def html(self):
        texts = Texts(self.seed)
        background, text, panel = (("#1e1e1e", "#d4d4d4", "#252526") if self.dark
                                   else ("#ffffff", "#1f1f1f", "#f3f3f3"))
        sidebar = "".join('<li data-cls="sidebar"%s>%s</li>' % (
            ' class="selected"' if self.icons and i == 3 else "", p)
            for i, p in enumerate(PACKAGES))
        icons = """
nav li::before { content: ""; display: inline-block; width: 12px; height: 12px;
                 margin-right: 5px; background: #5b8dd9; border-radius: 2px; }
nav li.selected { background: #2f6fd0; color: #ffffff; }""" if self.icons else ""
        paragraphs = "".join("<p>%s</p>" % " ".join(texts.sentence() + "." for _ in range(4))
                             for _ in range(3))
        rows = "".join("<tr><td>%s</td><td>%d.%d.%d</td><td>%s</td></tr>" % (
            p, texts.random.randint(1, 12), texts.random.randint(0, 30),
            texts.random.randint(0, 9), texts.hex(texts.random.choice([16, 32, 40])))
            for p in PACKAGES[:8])
        code = "\n".join(CODE[:12]).replace("&", "&amp;").replace("<", "&lt;")
        more = "".join("<p>%s</p>" % " ".join(texts.sentence() + "." for _ in range(5))
                       for _ in range(6))
        return """<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>%(title)s</title>
<style>
html { overflow: hidden; }
body { margin: 0; display: flex; font-family: '%(font)s', sans-serif; font-size: %(size)dpx;
       background: %(background)s; color: %(text)s; line-height: 1.45; }
nav { width: 190px; flex: none; background: %(panel)s; padding: 10px 14px; }
nav ul { list-style: none; margin: 0; padding: 0; }
nav li { padding: 3px 0; }
main { padding: 6px 28px; max-width: 980px; }
table { border-collapse: collapse; margin: 8px 0; }
td { padding: 3px 14px 3px 0; }
td:last-child { font-family: 'DejaVu Sans Mono', monospace; font-size: %(small)dpx; }
pre { background: %(panel)s; padding: 8px; font-size: %(small)dpx; }%(icons)s
</style></head>
<body><nav><ul>%(sidebar)s</ul></nav>
<main><h2>%(heading)s</h2>%(paragraphs)s
<table>%(rows)s</table>
<pre>%(code)s</pre>%(more)s</main>
%(reporter)s</body></html>
""" % dict(title=self.title, font=self.font, size=self.size, background=background, text=text,
           panel=panel, small=self.size - 2, sidebar=sidebar, icons=icons,
           heading=texts.sentence(5),
           paragraphs=paragraphs, rows=rows, code=code, more=more, reporter=REPORTER)


def editor_lines(seed, count):
    texts = Texts(seed)
    lines = ["Notes about %s %s" % (texts.pick(ADJECTIVES), texts.pick(NOUNS)), ""]
    while len(lines) < count:
        lines.append(fit(texts.sentence(), 64))
    return lines


# --- the scenes -----------------------------------------------------------------------------

class Scene:
    def __init__(self, name, size, layout, windows, quick=False):
        self.name, self.size, self.layout, self.windows = name, size, layout, windows
        self.quick = quick


DEJAVU = "DejaVu Sans Mono"
LIBERATION = "Liberation Mono"
TAMARIND = "Tamarind shipment number 88231 left the northern harbour at 06:40"


def scenes():
    small, large = (1600, 1000), (1920, 1080)
    return [
        # 1600x1000
        Scene("xterm-dejavu16-dark", small, SINGLE, [
            Terminal(DEJAVU, 16, "dark", 100, 40, 80, 60, "log", 1, first=TAMARIND)], quick=True),
        Scene("xterm-liberation13-light", small, SINGLE, [
            Terminal(LIBERATION, 13, "light", 150, 50, 60, 70, "listing", 2)]),
        Scene("xterm-dejavu10-light-hex", small, SINGLE, [
            Terminal(DEJAVU, 10, "light", 140, 60, 100, 80, "hex", 3)]),
        Scene("xterm-liberation15-solarized", small, SINGLE, [
            Terminal(LIBERATION, 15, "solarized", 120, 42, 120, 90, "git", 4)]),
        Scene("xterm-liberation11-dark", small, SINGLE, [
            Terminal(LIBERATION, 11, "dark", 160, 56, 200, 60, "mixed", 14)]),
        Scene("xterm-side-by-side-12", small, SIDE_BY_SIDE, [
            Terminal(DEJAVU, 12, "dark", 110, 58, 4, 40, "log", 5),
            Terminal(LIBERATION, 12, "light", 110, 60, 800, 40, "mixed", 6)], quick=True),
        Scene("xterm-side-by-side-14", small, SIDE_BY_SIDE, [
            Terminal(DEJAVU, 14, "solarized", 96, 50, 10, 60, "code", 7),
            Terminal(DEJAVU, 14, "dark", 96, 50, 800, 60, "git", 8)]),
        Scene("xterm-overlap-two", small, OVERLAPPING, [
            Terminal(DEJAVU, 13, "light", 110, 45, 60, 50, "mixed", 9),
            Terminal(LIBERATION, 13, "dark", 90, 36, 600, 380, "log", 10)], quick=True),
        Scene("xterm-overlap-three", small, OVERLAPPING, [
            Terminal(DEJAVU, 12, "dark", 100, 40, 40, 40, "listing", 11),
            Terminal(LIBERATION, 14, "light", 90, 34, 420, 230, "git", 12),
            Terminal(DEJAVU, 11, "solarized", 100, 36, 860, 420, "hex", 13)]),
        Scene("chromium-docs", small, SINGLE, [
            Browser(Page("docs", "Gannet handbook", 21), 80, 40, 1300, 900)], quick=True),
        Scene("chromium-xterm-side-by-side", small, SIDE_BY_SIDE, [
            Browser(Page("docs-dark", "Toolchain overview", 22, dark=True,
                         font="Liberation Sans", size=14, icons=True), 0, 0, 900, 1000),
            Terminal(DEJAVU, 12, "dark", 95, 58, 902, 40, "log", 23)]),
        Scene("zenity-text-info", small, SINGLE, [
            Editor("zenity", editor_lines(31, 18), 200, 100, 900, 640, "memo-kestrel.txt")]),
        Scene("mousepad", small, SINGLE, [
            Editor("mousepad", editor_lines(32, 20), 160, 80, 1000, 700, "memo-heron.txt")],
            quick=True),
        Scene("featherpad", small, SINGLE, [
            Editor("featherpad", editor_lines(33, 20), 160, 80, 1000, 700, "memo-plover.txt")],
            quick=True),
        # 1920x1080
        Scene("1080-xterm-dejavu12-dark", large, SINGLE, [
            Terminal(DEJAVU, 12, "dark", 200, 60, 60, 60, "mixed", 41)], quick=True),
        Scene("1080-xterm-liberation11-light", large, SINGLE, [
            Terminal(LIBERATION, 11, "light", 180, 66, 80, 50, "log", 42)]),
        Scene("1080-xterm-dejavu14-solarized", large, SINGLE, [
            Terminal(DEJAVU, 14, "solarized", 150, 48, 100, 80, "listing", 43)]),
        Scene("1080-xterm-side-by-side-12", large, SIDE_BY_SIDE, [
            Terminal(DEJAVU, 12, "light", 132, 62, 4, 40, "git", 44),
            Terminal(LIBERATION, 12, "dark", 132, 66, 960, 40, "hex", 45)], quick=True),
        Scene("1080-xterm-three-columns-11", large, SIDE_BY_SIDE, [
            Terminal(LIBERATION, 11, "dark", 88, 68, 4, 30, "log", 56),
            Terminal(DEJAVU, 11, "light", 88, 68, 642, 30, "git", 57),
            Terminal(LIBERATION, 11, "solarized", 88, 68, 1280, 30, "hex", 58)]),
        Scene("1080-xterm-liberation16-light", large, SINGLE, [
            Terminal(LIBERATION, 16, "light", 140, 44, 120, 60, "code", 59)]),
        Scene("1080-xterm-overlap-three", large, OVERLAPPING, [
            Terminal(LIBERATION, 13, "dark", 110, 40, 40, 40, "log", 46),
            Terminal(DEJAVU, 12, "light", 110, 40, 600, 260, "mixed", 47),
            Terminal(DEJAVU, 15, "dark", 90, 26, 1100, 520, "code", 48)]),
        Scene("1080-chromium-docs", large, SINGLE, [
            Browser(Page("docs-1080", "Deployment checklist", 51, font="Liberation Sans", size=14),
                    60, 30, 1700, 1000)], quick=True),
        Scene("1080-chromium-xterm-side-by-side", large, SIDE_BY_SIDE, [
            Browser(Page("docs-1080-side", "Farm status board", 52, icons=True),
                    0, 0, 1000, 1080),
            Terminal(LIBERATION, 12, "light", 124, 62, 1002, 40, "listing", 53)]),
        Scene("1080-chromium-dark", large, SINGLE, [
            Browser(Page("article-1080-dark", "Sea diary", 60, dark=True, size=16, icons=True),
                    200, 40, 1500, 1000)]),
        Scene("1080-mousepad", large, SINGLE, [
            Editor("mousepad", editor_lines(61, 26), 120, 60, 1200, 900, "memo-avocet.txt")]),
        Scene("1080-featherpad", large, SINGLE, [
            Editor("featherpad", editor_lines(54, 24), 200, 80, 1100, 800, "memo-osprey.txt")]),
        Scene("1080-zenity-text-info", large, SINGLE, [
            Editor("zenity", editor_lines(55, 22), 300, 120, 1000, 760, "memo-curlew.txt")]),
    ]


# --- capturing and scoring ------------------------------------------------------------------

class Library:
    """A temporary history written through the real capture path."""

    def __init__(self, cli, root):
        self.cli = cli
        self.data = os.path.join(root, "history")
        self.key = os.path.join(root, "keys", "history-key")
        os.makedirs(os.path.dirname(self.key), mode=0o700)

    def command(self, desktop, *args):
        result = subprocess.run([self.cli, "--data-dir", self.data, "--key-file", self.key,
                                 "--json", *args], env=desktop.env, capture_output=True,
                                text=True, timeout=120)
        if result.returncode != 0:
            raise CorpusError("vistrel-cli %s failed (%d): %s" %
                              (" ".join(args), result.returncode, result.stderr.strip()))
        return result.stdout

    def capture(self, desktop):
        # The capture skips an idle desktop: a user is at the keyboard.
        w, h = desktop.width, desktop.height
        desktop.run("xdotool", "mousemove", str(w - 12), str(h - 12))
        desktop.run("xdotool", "mousemove", str(w - 2), str(h - 2))
        started = time.monotonic()
        used = resource.getrusage(resource.RUSAGE_CHILDREN)
        answer = self.command(desktop, "capture", "--ticks", "1")
        seconds = time.monotonic() - started
        now = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = now.ru_utime + now.ru_stime - used.ru_utime - used.ru_stime
        ticks = [json.loads(line) for line in answer.splitlines() if line.strip()]
        if not ticks or ticks[-1].get("outcome") != "stored":
            raise CorpusError("the capture stored nothing: %s" % answer.strip())
        frame = json.loads(self.command(desktop, "show", str(ticks[-1]["id"])))
        return ticks[-1]["id"], frame, seconds, cpu


def visible(word, window_rect, covering, screen):
    if word.rect is None:
        return True
    return (window_rect.contains(word.rect) and screen.contains(word.rect)
            and not any(word.rect.intersects(frame) for frame in covering))


def score(words, frame, screen_w, screen_h):
    """Marks each word found or not; answers the read lines for the report."""
    lines = []
    for line in frame["lines"]:
        lines.append({"text": line["text"], "box": (line["x"] * screen_w, line["y"] * screen_h,
                                                    line["w"] * screen_w, line["h"] * screen_h),
                      "left": collections.Counter(tokens(line["text"]))})
    everywhere = collections.Counter()
    for line in lines:
        everywhere.update(line["left"])

    def take(line, text):
        line["left"][text] -= 1
        everywhere[text] -= 1

    # First at the word's own place: a line whose box holds the word's centre.
    for word in words:
        word.found = False
        word.line = None
        if word.rect is None:
            continue
        cx, cy = word.rect.x + word.rect.w / 2, word.rect.y + word.rect.h / 2
        slack = word.rect.h / 2
        for line in lines:
            x, y, w, h = line["box"]
            if x - slack <= cx <= x + w + slack and y - slack <= cy <= y + h + slack:
                word.line = word.line or line["text"]
                if line["left"][word.text] > 0:
                    take(line, word.text)
                    word.found = True
                    word.line = line["text"]
                    break
    # Then anywhere on the screen.
    for word in words:
        if not word.found and everywhere[word.text] > 0:
            for line in lines:
                if line["left"][word.text] > 0:
                    take(line, word.text)
                    break
            word.found = True
    return lines


def run_scene(scene, desktop, library, folder, keep):
    os.makedirs(folder)
    for window in scene.windows:
        window.open(desktop, folder)
    for window in scene.windows:
        window.settle(desktop)
    screen = Rect(0, 0, desktop.width, desktop.height)
    stacking = desktop.client_windows()
    strangers = set(stacking) - {w.window for w in scene.windows}
    if strangers:
        raise CorpusError("%s: windows the scene did not open: %s" % (scene.name, ", ".join(
            desktop.run("xdotool", "getwindowname", str(w)).strip() for w in strangers)))
    classes = {OVERALL, scene.layout, SCREEN_1080 if desktop.width == 1920 else SCREEN_1000}
    words = []
    for window in scene.windows:
        above = stacking[stacking.index(window.window) + 1:]
        covering = [desktop.frame_rect(w) for w in above]
        rect = desktop.client_rect(window.window)
        if not screen.contains(desktop.frame_rect(window.window)):
            raise CorpusError("%s: a window reaches past the screen: %s" % (scene.name, rect))
        for word in window.words(desktop, classes):
            if word.rect is None and any(frame.intersects(rect) for frame in covering):
                raise CorpusError("%s: a window without word boxes is covered" % scene.name)
            if visible(word, rect, covering, screen):
                words.append(word)
    frame_id, frame, seconds, cpu = library.capture(desktop)
    lines = score(words, frame, desktop.width, desktop.height)
    if keep:
        library.command(desktop, "image", str(frame_id), os.path.join(keep, scene.name + ".jpg"))
        with open(os.path.join(keep, scene.name + ".txt"), "w") as f:
            missed = [w for w in words if not w.found]
            f.write("%s: %d of %d visible words read, stored as frame %d (%dx%d)\n\n"
                    % (scene.name, len(words) - len(missed), len(words), frame_id,
                       frame["width"], frame["height"]))
            f.write("Missed (word, where, classes, the line read at its place):\n")
            for word in missed:
                f.write("  %-24s %-40s %s | %s\n" % (
                    word.text, word.where,
                    ", ".join(sorted(c for c in word.classes if c != OVERALL)),
                    word.line if word.line is not None else "-"))
            f.write("\nLines read (x, y, w, h in screen pixels):\n")
            for line in lines:
                f.write("  %4.0f %4.0f %4.0f %3.0f  %s\n" % (*line["box"], line["text"]))
    desktop.close_clients()
    return {"scene": scene.name, "screen": "%dx%d" % (desktop.width, desktop.height),
            "frame": frame_id, "lines": len(frame["lines"]), "words": words,
            "capture_seconds": seconds, "capture_cpu": cpu}


def summarise(results):
    totals = {c: [0, 0] for c in CLASSES}
    for result in results:
        for word in result["words"]:
            for c in word.classes | ({HEX} if is_hex_string(word.text) else set()):
                totals[c][0] += 1
                totals[c][1] += word.found
    return totals


def percent(found, total):
    return 100.0 * found / total if total else float("nan")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True, help="the vistrel-cli to capture with")
    parser.add_argument("--quick", action="store_true", help="only a few scenes")
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--keep", metavar="DIR",
                        help="keep each capture's image and its missed words in DIR")
    parser.add_argument("--only", metavar="TEXT", help="only the scenes whose name contains TEXT")
    args = parser.parse_args()

    chosen = [s for s in scenes() if (not args.quick or s.quick)
              and (not args.only or args.only in s.name)]
    if not chosen:
        parser.error("no scene chosen")
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)

    progress = sys.stderr if args.json else sys.stdout
    # The capture's wall and CPU time are those of the whole vistrel-cli run: start-up, loading
    # the recognizer, the screenshot, reading and storing.
    print("%-36s %9s %6s %8s %9s %9s" % ("scene", "screen", "words", "recall", "capture",
                                         "cpu"), file=progress)
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="vistrel-desktop-corpus-")
    results = []
    try:
        library = Library(os.path.abspath(args.cli), root)
        for size in sorted({s.size for s in chosen}):
            desktop = Desktop(size[0], size[1], root)
            try:
                for scene in (s for s in chosen if s.size == size):
                    result = run_scene(scene, desktop, library, os.path.join(root, scene.name),
                                       args.keep)
                    results.append(result)
                    found = sum(w.found for w in result["words"])
                    print("%-36s %9s %6d %6.1f %% %7.1f s %7.1f s" % (
                        scene.name, result["screen"], len(result["words"]),
                        percent(found, len(result["words"])), result["capture_seconds"],
                        result["capture_cpu"]), file=progress, flush=True)
            finally:
                desktop.close()
    finally:
        shutil.rmtree(root, ignore_errors=True)
    elapsed = time.monotonic() - started

    totals = summarise(results)
    if args.json:
        print(json.dumps({
            "classes": {c: {"words": t, "found": f, "recall": percent(f, t) / 100 if t else None}
                        for c, (t, f) in totals.items()},
            "scenes": [{"scene": r["scene"], "screen": r["screen"], "lines": r["lines"],
                        "words": len(r["words"]), "found": sum(w.found for w in r["words"]),
                        "captureSeconds": round(r["capture_seconds"], 2),
                        "captureCPUSeconds": round(r["capture_cpu"], 2)} for r in results],
            "seconds": round(elapsed, 1)}, indent=2))
        return
    print()
    print("%-40s %7s %7s" % ("class", "words", "recall"))
    for c in CLASSES:
        total, found = totals[c]
        if total:
            print("%-40s %7d %6.1f %%" % (c, total, percent(found, total)))
        else:
            print("%-40s %7d %7s" % (c, 0, "-"))
    captures = [r["capture_seconds"] for r in results]
    cpu = [r["capture_cpu"] for r in results]
    print("\n%d scene(s) in %.0f s; a capture (whole vistrel-cli run) %.1f s wall and %.1f s "
          "CPU on average, %.1f s wall at most" % (
              len(results), elapsed, sum(captures) / len(captures), sum(cpu) / len(cpu),
              max(captures)))


if __name__ == "__main__":
    try:
        main()
    except CorpusError as error:
        sys.exit("desktop corpus: %s" % error)
