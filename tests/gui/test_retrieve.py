"""Retrieving mail from a real POP3 server (dovecot on loopback, started
through scripts/lab) the ways a person does: from the menu, by a double
click on "in", and by the timer; and a timer-started run cancelled with
the toolbar button does not stop the timer."""

import os
import subprocess
import sys
import time

from omailgui import (CANCEL_BUTTON, FOLDER_ROW0_Y, FOLDER_X, ServerLab, Session, check, new_data_dir, read_count,
                      read_records, remove, run, wait_for)

MAIL_UID = 4242


class Pop3Lab(ServerLab):
    """The lab's POP3 server for the whole file."""

    def __init__(self):
        super().__init__("poplab", "smtp nntp")
        self.maildir = self.env["POP3_MAILDIR"]
        self.number = 0

    def fill(self, subjects, body_lines=5):
        for subject in subjects:
            self.number += 1
            path = os.path.join(self.maildir, "new", "1700000000.%d.gui" % self.number)
            body = "".join("line %d of %s\n" % (i, subject) for i in range(body_lines))
            with open(path, "w") as f:
                f.write("From: sender%d@gui.test\nTo: ann@gui.test\nSubject: %s\n"
                        "Date: Sat, 6 Dec 2025 10:00:00 +0000\nMessage-Id: <%d.gui@gui.test>\n\n%s"
                        % (self.number, subject, self.number, body))
            os.chown(path, MAIL_UID, MAIL_UID)

    def waiting(self):
        return sum(len(os.listdir(os.path.join(self.maildir, sub))) for sub in ("new", "cur"))

    def ini(self, host=None, timei=0):
        return "pop=%s\nuser=%s\npass=%s\ntimei=%d\n" % (
            host or "127.0.0.1:" + self.env["POP3_PORT"], self.env["POP3_USER"], self.env["POP3_PASS"], timei)


LAB = None


def subjects_in(data):
    return [r[4] for r in read_records(data, "in")]


def close_box(s):
    """Waits for the information box and closes it with Return."""
    box = wait_for(lambda: s.find_window(r"^orrindel mail$"), 20, what="the information box")
    s.screenshot_png("box")
    s.focus(box)
    s.key("Return")
    wait_for(lambda: not s.find_window(r"^orrindel mail$"), 5, what="the box to close")
    s.focus()


def retrieve_by_menu_and_by_double_click_on_in():
    data = new_data_dir("retrieve", LAB.ini())
    try:
        LAB.fill(["menu one", "menu two", "menu three"])
        with Session(data, "retrieve") as s:
            s.menu("r", 0)  # "&retrieve", "&email messages"
            close_box(s)
            check(subjects_in(data) == ["menu one", "menu two", "menu three"], "filed: %s" % subjects_in(data))
            check(read_count(data, "in") == 3, "count file says 3")
            check(LAB.waiting() == 0, "deleted on the server")
            s.wait_title(r"\(0/3\)$")  # the list was reloaded
            LAB.fill(["click one", "click two"])
            s.click(FOLDER_X, FOLDER_ROW0_Y, double=True)
            close_box(s)
            check(subjects_in(data)[3:] == ["click one", "click two"], "filed: %s" % subjects_in(data))
            check(LAB.waiting() == 0, "deleted on the server")
            s.wait_title(r"\(0/5\)$")
    finally:
        remove(data)


def start_relay(delay_ms):
    relay = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "relay.py"),
                              LAB.env["POP3_PORT"], str(delay_ms)], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    port = int(relay.stdout.readline())
    return relay, port


BATCH = 400  # messages of the run that is cancelled


def the_timer_retrieves_and_a_cancelled_timer_run_does_not_stop_it():
    # Through a relay with some latency, so that a run of many messages
    # lasts long enough to be cancelled in the middle.
    relay, port = start_relay(15)
    data = new_data_dir("timer", LAB.ini(host="127.0.0.1:%d" % port, timei=1))
    try:
        LAB.fill(["timer one", "timer two"])
        with Session(data, "timer") as s:
            started = time.monotonic()
            wait_for(lambda: read_count(data, "in") == 2 and LAB.waiting() == 0, 90, 0.5, "the first timer run")
            elapsed = time.monotonic() - started
            check(50 <= elapsed <= 80, "first automatic run after %.0f s, not a minute" % elapsed)
            check(not s.find_window(r"^orrindel mail$"), "an automatic run shows no box")
            # The next due time is a minute after that run; let it start on
            # a bigger mailbox and cancel it from the toolbar.
            # Big enough that the pipelined run is still going when the
            # click lands (60 could all be in before it).
            LAB.fill(["batch %03d" % i for i in range(BATCH)], body_lines=200)
            wait_for(lambda: read_count(data, "in") > 2, 90, 0.05, "the second timer run to file something")
            s.click(*CANCEL_BUTTON)
            s.screenshot_png("cancelled")
            filed = read_count(data, "in")
            time.sleep(1)
            check(read_count(data, "in") == filed, "nothing filed after cancel")
            check(filed < BATCH + 2, "the run was cancelled before it ended (%d filed)" % filed)
            check(LAB.waiting() == BATCH, "nothing deleted on the server after cancel")
            check(not s.find_window(r"^orrindel mail$"), "a cancel shows no box")
            # The timer still fires: a minute later everything comes again.
            wait_for(lambda: LAB.waiting() == 0, 100, 0.5, "the third timer run")
            wait_for(lambda: read_count(data, "in") == filed + BATCH, 30, 0.2, "every message filed")
            check(not s.find_window(r"^orrindel mail$"), "an automatic run shows no box")
    finally:
        relay.stdin.close()
        relay.wait(10)
        remove(data)


if __name__ == "__main__":
    if os.geteuid() != 0 or not os.path.exists("/usr/sbin/dovecot"):
        print("SKIP: the POP3 lab needs root and dovecot")
        sys.exit(0)
    LAB = Pop3Lab()
    try:
        run([retrieve_by_menu_and_by_double_click_on_in,
             the_timer_retrieves_and_a_cancelled_timer_run_does_not_stop_it])
    finally:
        LAB.stop()
