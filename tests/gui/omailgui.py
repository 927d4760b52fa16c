"""Drives the real omail program as a person does: under a private Xvfb,
with pointer clicks and key presses through xdotool, reading what happened
from the window titles, screenshots and the store's files.

Every scenario builds a data directory, starts a Session on it, acts and
checks. The window is placed at 0,0 with the designed size (omail.ini), so
the places of the panes below are those of the program's own layout.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OMAIL = os.environ.get("OMAIL_BIN", "")
SOURCE_DIR = os.environ.get("OMAIL_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SHOTS = os.environ.get("OMAIL_GUI_SHOTS", "")

# Layout of the main window at 0,0, 640x480, list height 200 (omail.ini
# below), in the default font: measured from the window and used by every
# scenario. Rows of the folder pane and the message list are fixed height.
WIDTH, HEIGHT = 640, 480
FOLDER_X = 20
FOLDER_ROW0_Y = 307
FOLDER_ROW_H = 13
LIST_ROW0_Y = 104
LIST_ROW_H = 17
LIST_HEADER_Y = 85
COLUMN_X = {1: 50, 2: 150, 3: 340, 4: 515, 5: 575}
SUBJECT_X = 340
CANCEL_BUTTON = (30, 47)

STANDARD_FOLDERS = ["in", "out", "sent", "bin"]


class Failure(AssertionError):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(predicate, timeout=10.0, step=0.05, what="condition"):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(step)


# ---------------------------------------------------------------------------
# The store, as the program keeps it
# ---------------------------------------------------------------------------

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def record(name, status, author, recipient, subject, number, size="1", msgid=None):
    """One list record of nine CR LF lines; the sortable date grows with number."""
    minute = number % 60
    hour = number // 60 % 24
    day = 1 + number // 1440 % 28
    display = "%02d Dec 25" % day
    sortable = "12512%02d%02d%02d00" % (day, hour, minute)
    msgid = msgid or "<%s.%d@gui.test>" % (name, number)
    return "\r\n".join([name, status, author, recipient, subject, display, sortable, size, msgid]) + "\r\n"


def make_folder(data, folder, count, status="U", files=True, prefix="", first=0):
    """A folder of count mail items with list, count and (if files) item files."""
    path = store_path(data, folder)
    os.makedirs(path, exist_ok=True)
    parts = []
    for i in range(first, first + count):
        name = "N%07d.omh" % i
        author = "%sauthor%05d@gui.test" % (prefix, i)
        subject = "%ssubject %05d" % (prefix, i)
        if files:
            with open(os.path.join(path, name), "wb") as f:
                f.write(("+OK message follows\r\nFrom: %s\r\nTo: ann@gui.test\r\nSubject: %s\r\n"
                         "Date: Sat, 6 Dec 2025 10:00:00 +0000\r\nMessage-Id: <%s.%d@gui.test>\r\n"
                         % (author, subject, name, i)).encode())
            with open(os.path.join(path, name[:-1] + "b"), "wb") as f:
                f.write(b"text\r\n")
        parts.append(record(name, status, author, "ann@gui.test", subject, i))
    with open(os.path.join(path, "n.lst"), "w", newline="") as f:
        f.write("".join(parts))
    with open(os.path.join(path, "n.cnt"), "w", newline="") as f:
        f.write("%d\r\n" % count)


def store_path(data, *names):
    """A store path resolved without regard to case, as the program does
    (the standard folders are made as "IN", "OUT", ...)."""
    path = data
    for name in names:
        match = name
        if os.path.isdir(path):
            for entry in os.listdir(path):
                if entry.lower() == name.lower():
                    match = entry
                    break
        path = os.path.join(path, match)
    return path


def read_records(data, folder):
    """The records of a folder's list, each a list of nine fields."""
    path = store_path(data, folder, "n.lst")
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").split("\r\n")
    lines = lines[:len(lines) - len(lines) % 9]
    return [lines[i:i + 9] for i in range(0, len(lines) - 8, 9)]


def read_count(data, folder):
    try:
        with open(store_path(data, folder, "n.cnt"), "rb") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 0


def new_data_dir(name, ini_extra="", personal=()):
    data = tempfile.mkdtemp(prefix="omail-gui-%s-" % name)
    with open(os.path.join(data, "omail.ini"), "w") as f:
        f.write("[general]\nmleft=0\nmtop=0\nmwidth=%d\nmheight=%d\nmdatah=200\n" % (WIDTH, HEIGHT))
        f.write(ini_extra)
    if personal:
        with open(os.path.join(data, "folders.lst"), "w", newline="") as f:
            f.write("".join(p + "\r\n" for p in sorted(personal)))
    return data


# ---------------------------------------------------------------------------
# The X server and the program
# ---------------------------------------------------------------------------

class Session:
    """A private Xvfb with omail running on a data directory."""

    def __init__(self, data, name="gui"):
        self.data = data
        self.name = name
        self.shot_count = 0
        self.xvfb = None
        self.app = None
        self.window = None
        self.runtime = None
        self.env = dict(os.environ)

    def __enter__(self):
        self.start_x()
        self.start_app()
        return self

    def __exit__(self, kind, value, trace):
        if kind is not None:
            try:
                self.screenshot_png("failure")
            except Exception:  # noqa: BLE001 - the original error matters more
                pass
        self.stop_app()
        self.stop_x()
        return False

    def start_x(self):
        # Xvfb picks a free display itself (-displayfd); two servers starting
        # at once can still collide on one, so the display is checked and a
        # server that lost is replaced.
        for attempt in range(5):
            if self.try_start_x():
                return
            self.stop_x()
            time.sleep(0.2 * (attempt + 1))
        raise Failure("no Xvfb could be started")

    def try_start_x(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            return False
        self.env["DISPLAY"] = ":" + number.decode().strip()
        if not self.runtime:
            self.runtime = tempfile.mkdtemp(prefix="omail-gui-runtime-")
            os.chmod(self.runtime, 0o700)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        self.env.pop("QT_QPA_PLATFORM", None)
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, timeout=10)
        return self.xvfb.poll() is None and probe.returncode == 0 and probe.stdout.strip() == b"1024 768"

    def stop_x(self):
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(10)
            self.xvfb = None

    def start_app(self, wait=True):
        check(OMAIL and os.path.exists(OMAIL), "OMAIL_BIN names the program")
        for attempt in range(3):
            self.launch()
            if not wait:
                return
            self.window = wait_for(lambda: self.find_window(r"^orrindel mail - ") or self.app.poll() is not None,
                                   20, 0.1, "the main window")
            if self.app.poll() is None:
                self.focus()
                return
            # The program could not reach the X server (seen under heavy
            # load with servers coming and going): a new server, a new try.
            self.window = None
            self.stop_x()
            self.start_x()
        raise Failure("the program did not start (see %s)" % self.log.name)

    def launch(self):
        self.log = open(os.path.join(self.data, "..", os.path.basename(self.data) + ".log"), "ab")
        self.app = subprocess.Popen([OMAIL, self.data], env=self.env, stdout=self.log, stderr=self.log)

    def stop_app(self):
        if self.app and self.app.poll() is None:
            self.app.send_signal(signal.SIGTERM)
            try:
                self.app.wait(10)
            except subprocess.TimeoutExpired:
                self.app.kill()
                self.app.wait()
        self.app = None

    def kill_app(self):
        self.app.kill()
        self.app.wait()
        self.app = None

    # -- xdotool -----------------------------------------------------------

    def xdo(self, *args, check_result=True):
        result = subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if check_result and result.returncode != 0:
            raise Failure("xdotool %s: %s" % (" ".join(map(str, args)), result.stderr.decode().strip()))
        return result.stdout.decode()

    def windows(self):
        out = self.xdo("search", "--onlyvisible", "--pid", self.app.pid, "", check_result=False)
        return [w for w in out.split()]

    def find_window(self, pattern):
        for w in self.windows():
            if re.search(pattern, self.xdo("getwindowname", w, check_result=False).strip()):
                return w
        return None

    def title(self):
        return self.xdo("getwindowname", self.window).strip()

    def wait_title(self, pattern, timeout=10.0):
        return wait_for(lambda: re.search(pattern, self.title()), timeout, what="title matching " + pattern)

    def focus(self, window=None):
        self.xdo("windowfocus", "--sync", window or self.window)

    def click(self, x, y, button=1, modifiers=(), double=False):
        for m in modifiers:
            self.xdo("keydown", m)
        self.xdo("mousemove", "--sync", x, y)
        if double:
            self.xdo("click", "--repeat", 2, "--delay", 80, button)
        else:
            self.xdo("click", button)
        for m in modifiers:
            self.xdo("keyup", m)
        time.sleep(0.15)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", "--clearmodifiers", k)
        time.sleep(0.15)

    def menu(self, title_key, position):
        """Opens a main-menu title by its access key and picks the entry at
        a position (0 the first enabled one) with the arrow keys and Return.
        A menu opened from the keyboard starts on its first enabled entry.
        Access keys inside a menu are not used: several entries share one."""
        self.key("alt+" + title_key)
        self.focus()  # without a window manager the opening pop-up drops focus
        self.key(*(["Down"] * position), "Return")

    def type_text(self, text):
        self.xdo("type", "--delay", 20, text)

    def window_geometry(self, window):
        out = self.xdo("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    # -- screenshots -------------------------------------------------------

    def screenshot(self):
        """The whole screen as (width, height, rgb bytes)."""
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=30, check=True).stdout
        fields = ppm.split(maxsplit=4)
        width, height = int(fields[1]), int(fields[2])
        return Shot(width, height, fields[4][-width * height * 3:])

    def screenshot_png(self, label):
        if not SHOTS:
            return None
        os.makedirs(SHOTS, exist_ok=True)
        self.shot_count += 1
        path = os.path.join(SHOTS, "%s-%02d-%s.png" % (self.name, self.shot_count, label))
        subprocess.run(["import", "-window", "root", path], env=self.env, timeout=30)
        return path

    # -- the main window's places --------------------------------------------

    def click_folder(self, row, **kw):
        self.click(FOLDER_X, FOLDER_ROW0_Y + row * FOLDER_ROW_H, **kw)

    def click_row(self, row, **kw):
        self.click(SUBJECT_X, LIST_ROW0_Y + row * LIST_ROW_H, **kw)

    def click_header(self, column):
        self.click(COLUMN_X[column], LIST_HEADER_Y)

    def read_io(self):
        """Bytes the program has read so far (rchar of /proc/PID/io)."""
        with open("/proc/%d/io" % self.app.pid) as f:
            for line in f:
                if line.startswith("rchar:"):
                    return int(line.split()[1])
        return 0


class Shot:
    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.data[at:at + 3])

    def colours_in_row(self, y, x0=2, x1=620):
        """Every colour on a horizontal line of the screen."""
        return {self.pixel(x, y) for x in range(x0, x1)}


def colour_of_setting(value):
    """A colour setting (red in the low byte) as an RGB tuple."""
    return (value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF)


def run(scenarios):
    """Runs the scenarios of a file; prints one line each and a summary."""
    passed = failed = 0
    only = sys.argv[1:]
    for scenario in scenarios:
        if only and scenario.__name__ not in only:
            continue
        start = time.monotonic()
        try:
            scenario()
            passed += 1
            print("PASS %s (%.1f s)" % (scenario.__name__, time.monotonic() - start), flush=True)
        except Exception as error:  # noqa: BLE001 - every failure is reported
            failed += 1
            print("FAIL %s: %s: %s" % (scenario.__name__, type(error).__name__, error), flush=True)
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


def remove(data):
    shutil.rmtree(data, ignore_errors=True)


def recording_desktop(base, mime_type):
    """A desktop (XDG data and config folders beside base) whose handler for
    mime_type records how it was started: "ARGC|FIRST_ARGUMENT" in the
    returned record file."""
    home = base + "-xdg"
    os.makedirs(os.path.join(home, "data", "applications"))
    os.makedirs(os.path.join(home, "config"))
    record = os.path.join(home, "record.txt")
    with open(os.path.join(home, "record.sh"), "w") as f:
        f.write("#!/bin/sh\nprintf '%%s|%%s' \"$#\" \"$1\" > %s.tmp\nmv %s.tmp %s\n" % (record, record, record))
    os.chmod(os.path.join(home, "record.sh"), 0o755)
    with open(os.path.join(home, "data", "applications", "recorder.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=recorder\nExec=%s/record.sh %%f\n" % home)
    with open(os.path.join(home, "config", "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\n%s=recorder.desktop\n" % mime_type)
    return home, record


class ServerLab:
    """Real servers on loopback through scripts/lab for a whole test file:
    those named in `without` ("pop3", "smtp", "nntp") are left out. The
    lab's settings (ports, users, folders) are in self.env."""

    def __init__(self, name, without):
        self.dir = "/tmp/omail-gui-%s-%d" % (name, os.getpid())
        self.script = os.path.join(SOURCE_DIR, "scripts", "lab", "lab.sh")
        env = dict(os.environ, LAB_WITHOUT=without)
        with open(self.dir + ".log", "wb") as log:
            subprocess.run(["bash", self.script, "start", self.dir], env=env, stdout=log, stderr=log, check=True)
        self.env = {}
        with open(os.path.join(self.dir, "lab.env")) as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                self.env[key] = value

    def stop(self):
        subprocess.run(["bash", self.script, "stop", self.dir], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["rm", "-rf", self.dir, self.dir + ".log"])
