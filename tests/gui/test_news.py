"""News as a person meets it, against a real INN on loopback (started
through scripts/lab): the newsgroups window opened from the pane's header
and from the menu, the active list fetched by keyboard, a group found and
subscribed by double click; back in the main window its headers retrieved
by a double click on the group, two rows chosen with Control-click and
their bodies retrieved from the list's pop-up menu."""

import os
import subprocess
import sys

from omailgui import (LIST_ROW0_Y, LIST_ROW_H, SUBJECT_X, ServerLab, Session, check, new_data_dir, read_records, remove,
                      run, store_path, wait_for)

NEWS_HEADER = (300, 290)      # the "newsgroups" header over the pane
NEWS_ROW0 = (300, 307)        # first row of the newsgroup pane
ACTIVE_X = 480                # the active list, right of the window
ACTIVE_ROW0_Y = 85
ACTIVE_ROW_H = 13             # in the list font of the settings (8 pt)
WINDOW_CAPTION = r"^newsgroups - orrindel mail$"
INNBIN = "/usr/lib/news/bin"


class NntpLab(ServerLab):
    """The lab's INN for the whole file."""

    def __init__(self):
        super().__init__("newslab", "pop3 smtp")

    def make_group(self, name, articles):
        env = dict(os.environ, INNCONF=self.env["INNCONF"])
        subprocess.run(["setpriv", "--reuid=news", "--regid=news", "--init-groups", INNBIN + "/ctlinnd", "-t", "10",
                        "newgroup", name, "y", "gui"], env=env, check=True, stdout=subprocess.DEVNULL)
        batch = ""
        for n in range(1, articles + 1):
            text = ("Path: gui!not-for-mail\nFrom: Poster %d <p@gui.test>\nNewsgroups: %s\nSubject: gui article %d\n"
                    "Message-ID: <gui.%d@%s>\nDate: Mon, 01 Jan 2024 12:%02d:00 +0000\n\nbody of gui article %d\n"
                    % (n, name, n, n, name, n, n))
            batch += "#! rnews %d\n%s" % (len(text), text)
        subprocess.run(["bash", self.script, "rnews", self.dir], input=batch.encode(), check=True,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def ini(self):
        return "nntp=127.0.0.1:%s\nhlimit=50\nnleft=0\nntop=0\nnwidth=640\nnheight=480\n" % self.env["NNTP_PORT"]


LAB = None


def close_box(s, pattern=r"^orrindel mail$", back_to=None):
    """Waits for a box, closes it with Return and gives back the focus."""
    box = wait_for(lambda: s.find_window(pattern), 20, what="the box " + pattern)
    s.screenshot_png("box")
    s.focus(box)
    s.key("Return")
    wait_for(lambda: s.find_window(pattern) != box, 5, what="the box to close")
    s.focus(back_to)


def answer(s, pattern, text=None, back_to=None):
    """Answers a prompt: types text if given, then Return."""
    prompt = wait_for(lambda: s.find_window(pattern), 10, what="the prompt " + pattern)
    s.focus(prompt)
    if text:
        s.type_text(text)
    s.key("Return")
    wait_for(lambda: not s.find_window(pattern), 5, what="the prompt to close")
    s.focus(back_to)


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [line for line in f.read().decode().split("\r\n") if line]


def subscribe_in_the_window_then_retrieve_headers_and_chosen_bodies():
    group = "gui.news.%d" % os.getpid()
    LAB.make_group(group, 4)
    data = new_data_dir("news", LAB.ini())
    try:
        with Session(data, "news") as s:
            # From the pane's header: the window opens; exit with its button.
            s.click(*NEWS_HEADER)
            window = wait_for(lambda: s.find_window(WINDOW_CAPTION), 10, what="the newsgroups window")
            s.screenshot_png("newsgroups-empty")
            s.focus(window)
            s.key("Escape")
            wait_for(lambda: not s.find_window(WINDOW_CAPTION), 5, what="the window to close")
            s.focus()

            # From the menu "&settings", "&newsgroups" by its access key.
            s.key("alt+s")
            s.focus()
            s.key("n")
            window = wait_for(lambda: s.find_window(WINDOW_CAPTION), 10, what="the newsgroups window")
            s.focus(window)
            # Fetch by keyboard: "&newsgroups", "&retrieve active newsgroup list".
            s.key("alt+n")
            s.focus(window)
            s.key("Return")  # the menu opens on its first entry
            answer(s, r"^retrieve active newsgroup list\?$", back_to=window)
            close_box(s, back_to=window)
            names = read_lines(os.path.join(data, "GROUP.LST"))
            check(group in names, "the list holds the group: %s" % names)
            check(read_lines(os.path.join(data, "GROUP.DAT")) == [str(len(names))], "GROUP.DAT counts the list")

            # Find it with "f" in the active list, then double-click its row.
            s.click(ACTIVE_X, ACTIVE_ROW0_Y)
            s.key("f")
            answer(s, r"^enter text to find$", "news.%d" % os.getpid(), back_to=window)
            row = sorted(names).index(group)
            s.screenshot_png("found")
            s.click(ACTIVE_X, ACTIVE_ROW0_Y + row * ACTIVE_ROW_H, double=True)
            wait_for(lambda: read_lines(os.path.join(data, "SUBSCR.LST")) == [group], 5, what="the subscription")
            s.screenshot_png("subscribed")
            # A second subscription of the same group is refused by name.
            s.key("s")
            close_box(s, back_to=window)
            s.key("x")
            wait_for(lambda: not s.find_window(WINDOW_CAPTION), 5, what="the window to close")
            s.focus()

            # The pane lists the group; a double click retrieves its headers.
            s.click(*NEWS_ROW0, double=True)
            close_box(s)
            folder = read_lines(os.path.join(data, "subscr.dat"))[0].split(":")[1]
            records = read_records(data, folder)
            check([r[1] for r in records] == ["O"] * 4, "four headers filed: %s" % [r[1] for r in records])
            s.wait_title(r"\(0/4\)$")
            s.screenshot_png("headers")

            # Two rows by Control-click, bodies from the pop-up's last entry.
            s.click(SUBJECT_X, LIST_ROW0_Y)
            s.click(SUBJECT_X, LIST_ROW0_Y + 2 * LIST_ROW_H, modifiers=("ctrl",))
            s.click(SUBJECT_X, LIST_ROW0_Y + 2 * LIST_ROW_H, button=3)
            s.focus()
            s.key("Up", "Return")
            close_box(s)
            bodies = [os.path.basename(r[0].replace("\\", "/"))[:-1] + "b" for r in read_records(data, folder)]
            present = [os.path.exists(store_path(data, folder, b)) for b in bodies]
            check(sum(present) == 2, "two bodies fetched: %s" % present)
            check([r[1] for r in read_records(data, folder)] == ["O"] * 4, "the selection marks are cleared")
            s.screenshot_png("bodies")
    finally:
        remove(data)


if __name__ == "__main__":
    if os.geteuid() != 0 or not os.path.exists(INNBIN + "/innd"):
        print("SKIP: the NNTP lab needs root and inn2")
        sys.exit(0)
    LAB = NntpLab()
    try:
        run([subscribe_in_the_window_then_retrieve_headers_and_chosen_bodies])
    finally:
        LAB.stop()
