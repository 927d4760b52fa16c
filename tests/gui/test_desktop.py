"""The program on a desktop: a mailto: link handed to the running program
opens its compose window filled in; started in the home directory it uses
the user's data directory; new mail that the timer files while another
window is active is told through a desktop notification (a private D-Bus
session with a recording notification service), and not while it is."""

import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile

from omailgui import OMAIL, Session, check, new_data_dir, read_count, read_records, remove, run, store_path, wait_for

IDENTITY = "rname=Gui Tester\nemail=tester@gui.test\nuser=tester\npop=gui.test\ntimez=+0000\n"
LINK = ("mailto:ann@gui.test?subject=Lunch%20on%20Friday%3F&cc=bob@gui.test,carl@gui.test"
        "&body=Hello%20Ann%2C%0D%0A%0D%0Ashall%20we%3F&bcc=spy@gui.test")


def wait_window(s, pattern, what, timeout=20):
    window = wait_for(lambda: s.find_window(pattern), timeout, 0.1, what)
    s.focus(window)
    return window


def compose_ok(s, window):
    s.focus(window)
    s.key("alt+c")
    s.focus(window)
    s.key("Return")  # "&compose", "&ok"
    wait_for(lambda: not s.find_window(r"^compose - "), 10, what="the compose window to close")


def a_mailto_link_handed_to_the_running_program_opens_its_compose_window():
    data = new_data_dir("mailto", IDENTITY)
    try:
        with Session(data, "mailto") as s:
            second = subprocess.run([OMAIL, data, LINK], env=s.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    timeout=20)
            check(second.returncode == 0, "the second process handed over and ended: %r" % second.stdout)
            compose = wait_window(s, r"^compose - orrindel mail - new message$", "the compose window")
            s.screenshot_png("prefilled")
            compose_ok(s, compose)
            header = open(os.path.join(store_path(data, "out"), "N0000000.omh"), newline="").read()
            check(header.startswith("To: ann@gui.test\r\n"), header)
            check("\r\nSubject: Lunch on Friday?\r\n" in header, header)
            check("\r\nCc: bob@gui.test,carl@gui.test\r\n" in header, header)
            check("spy@gui.test" not in header, "no blind copy from a link: " + header)
            body = open(os.path.join(store_path(data, "out"), "N0000000.omb"), newline="").read()
            check(body.startswith("Hello Ann,\r\n\r\nshall we?\r\n"), repr(body))
            check(s.app.poll() is None, "the running program goes on")
            check([r[4] for r in read_records(data, "out")] == ["Lunch on Friday?"], "one item in the outbox")
            # With no program running, the one started with the link opens it itself.
            s.stop_app()
            s.app = subprocess.Popen([OMAIL, data, "mailto:dee@gui.test?subject=second&body=hi"], env=s.env,
                                     stdout=s.log, stderr=s.log)
            compose = wait_window(s, r"^compose - orrindel mail - new message$", "its own compose window")
            s.screenshot_png("own-link")
            compose_ok(s, compose)
            check([r[4] for r in read_records(data, "out")] == ["Lunch on Friday?", "second"], "two in the outbox")
    finally:
        remove(data)


class HomeSession(Session):
    """The program started with no argument from a directory, as the menu
    starts it from the home directory."""

    def __init__(self, home, cwd, name):
        super().__init__(home, name)
        self.cwd = cwd
        self.env["HOME"] = home
        self.env.pop("XDG_DATA_HOME", None)

    def launch(self):
        self.log = open(self.data + ".log", "ab")
        self.app = subprocess.Popen([os.path.abspath(OMAIL)], cwd=self.cwd, env=self.env, stdout=self.log, stderr=self.log)


def started_in_home_it_uses_the_user_data_directory():
    home = tempfile.mkdtemp(prefix="omail-gui-home-")
    elsewhere = os.path.join(home, "elsewhere")
    os.mkdir(elsewhere)
    user_data = os.path.join(home, ".local", "share", "orrindel-mail")
    try:
        with HomeSession(home, home, "home") as s:
            s.screenshot_png("first-start")
            check(os.path.isdir(user_data), "the user's data directory was made")
            check(stat.S_IMODE(os.stat(user_data).st_mode) == 0o700, "mode %o" % os.stat(user_data).st_mode)
            check(os.path.exists(os.path.join(user_data, "FILE.LOK")), "the lock is there")
            check(not os.path.exists(os.path.join(home, "FILE.LOK")), "not in the home directory")
        with HomeSession(home, elsewhere, "elsewhere") as s:
            check(os.path.exists(os.path.join(elsewhere, "FILE.LOK")), "another directory is used as it is")
    finally:
        shutil.rmtree(home, ignore_errors=True)


class Bus:
    """A private D-Bus session with the recording notification service."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="omail-gui-dbus-")
        self.record = os.path.join(self.dir, "notices.jsonl")
        self.daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1",
                                        "--address=unix:dir=" + self.dir], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        self.address = self.daemon.stdout.readline().decode().strip()
        check(self.address, "the bus started")
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        here = os.path.dirname(os.path.abspath(__file__))
        # Debian's python3 has the D-Bus bindings, whichever python runs the tests.
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        self.recorder = subprocess.Popen([python, os.path.join(here, "notifyrecorder.py"), self.record],
                                         env=env, stdout=subprocess.PIPE)
        check(self.recorder.stdout.readline().strip() == b"ready", "the notification service runs")

    def notices(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as f:
            return [json.loads(line) for line in f]

    def stop(self):
        for p in (self.recorder, self.daemon):
            p.terminate()
            p.wait(10)
        shutil.rmtree(self.dir, ignore_errors=True)


def fill(lab, senders):
    from test_retrieve import MAIL_UID
    for sender in senders:
        lab.number += 1
        path = os.path.join(lab.maildir, "new", "1700000000.%d.desktop" % lab.number)
        with open(path, "w") as f:
            f.write("From: %s\nTo: ann@gui.test\nSubject: note %d\nDate: Sat, 6 Dec 2025 10:00:00 +0000\n"
                    "Message-Id: <%d.desktop@gui.test>\n\nhello\n" % (sender, lab.number, lab.number))
        os.chown(path, MAIL_UID, MAIL_UID)


def new_mail_is_told_only_while_another_window_is_active():
    from test_retrieve import Pop3Lab
    lab = Pop3Lab()
    bus = Bus()
    data = new_data_dir("notices", lab.ini(timei=1))
    other = None
    try:
        fill(lab, ["Ann Example <ann@gui.test>", "=?UTF-8?Q?B=C3=B6b?= <bob@gui.test>", "ann@gui.test"])
        s = Session(data, "notices")
        s.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address
        with s:
            # Another program's window takes the focus.
            other = subprocess.Popen(["display", "-size", "200x100", "-geometry", "+700+500", "xc:gray"],
                                     env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shown = wait_for(lambda: s.xdo("search", "--onlyvisible", "--pid", other.pid, "",
                                           check_result=False).split(), 20, 0.2, "the other window")
            s.focus(shown[0])
            wait_for(lambda: read_count(data, "in") == 3, 100, 0.5, "the timer run")
            notices = wait_for(bus.notices, 10, 0.1, "a notification")
            s.screenshot_png("told")
            check(len(notices) == 1, "one notice for the run: %s" % notices)
            n = notices[0]
            check(n["summary"] == "3 new messages", str(n))
            check(n["body"] == "from Ann Example, B\u00f6b and ann@gui.test", str(n))
            check(n["app_name"] == "orrindel mail" and n["hints"].get("desktop-entry") == "org.orrindel.mail", str(n))
            # With the main window active, the next run files quietly.
            s.focus()
            fill(lab, ["Carl <carl@gui.test>"])
            wait_for(lambda: read_count(data, "in") == 4, 100, 0.5, "the second timer run")
            check(len(bus.notices()) == 1, "nothing told while the window is active: %s" % bus.notices())
    finally:
        if other:
            other.terminate()
            other.wait(10)
        remove(data)
        bus.stop()
        lab.stop()


if __name__ == "__main__":
    scenarios = [a_mailto_link_handed_to_the_running_program_opens_its_compose_window,
                 started_in_home_it_uses_the_user_data_directory]
    if os.geteuid() == 0 and os.path.exists("/usr/sbin/dovecot") and shutil.which("dbus-daemon"):
        scenarios.append(new_mail_is_told_only_while_another_window_is_active)
    else:
        print("SKIP: new-mail notices need root, dovecot and dbus-daemon for their servers")
    run(scenarios)
