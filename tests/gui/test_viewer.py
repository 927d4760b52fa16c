"""Reading items as a person does: opening the viewer by double click and by
Enter, walking the folder with n, p, a, h, t and b, the list's caption and
colours after closing it; printing from the viewer and from the main
window's toolbar on a real print server (a private cupsd with a PDF queue);
decoding an attachment and launching it through a test XDG handler; saving
an item through the file dialog; the decode log and the header dialog."""

import glob
import os
import subprocess
import time

from omailgui import (LIST_ROW0_Y, LIST_ROW_H, SOURCE_DIR, SUBJECT_X, Session, check, colour_of_setting,
                      make_folder, new_data_dir, read_records, recording_desktop, remove, run, store_path, wait_for)

VIEW = r"^view - orrindel mail - in "
READ_COLOUR = colour_of_setting(255)
UNREAD_COLOUR = colour_of_setting(0)
PRINT_BUTTON = (95, 47)
SAVE_BUTTON = (155, 47)


def walk_store(name):
    """Seven items; rows 2 and 5 are headers without bodies, row 3 is
    highlighted, row 6 read."""
    data = new_data_dir(name)
    make_folder(data, "in", 7, "U")
    path = store_path(data, "in")
    for row in (2, 5):
        os.remove(os.path.join(path, "N%07d.omb" % row))
    lst = os.path.join(path, "n.lst")
    records = read_records(data, "in")
    records[3][1] = "H"
    records[6][1] = "R"
    with open(lst, "w", newline="") as f:
        f.write("".join("\r\n".join(r) + "\r\n" for r in records))
    for row in range(7):
        body = os.path.join(path, "N%07d.omb" % row)
        if os.path.exists(body):
            with open(body, "w", newline="") as f:
                f.write("the body of item %d\r\nsecond line\r\n" % row)
    return data


def statuses(data):
    return "".join(r[1] for r in read_records(data, "in"))


def viewer(s):
    w = wait_for(lambda: s.find_window(VIEW), 10, 0.1, "the viewer")
    s.focus(w)
    return w


def view_caption(s, position):
    return wait_for(lambda: (s.find_window(VIEW + r"\(%d/7\)$" % position)), 10, 0.05,
                    "viewer at %d/7" % position)


def row_colours(shot, row):
    y = LIST_ROW0_Y + row * LIST_ROW_H
    return {c for dy in range(-4, 5) for c in shot.colours_in_row(y + dy, 5, 400)}


def open_walk_and_return():
    data = walk_store("walk")
    try:
        with Session(data, "viewer") as s:
            s.wait_title(r"\(0/7\)$")
            s.click_row(0, double=True)
            w = viewer(s)
            view_caption(s, 1)
            check(s.find_window(r"^orrindel mail - ") is None, "the main window is hidden while viewing")
            s.screenshot_png("viewer")
            for key, position in [("n", 2), ("n", 4), ("N", 4), ("a", 5), ("a", 5), ("b", 7), ("n", 7),
                                  ("t", 1), ("h", 4), ("p", 2)]:
                s.focus(w)
                s.key(key)
                view_caption(s, position)
            # Viewing set every row stepped on to read, the highlighted one stays.
            check(statuses(data) == "RRUHRUR", "statuses after the walk: " + statuses(data))
            s.key("x")
            s.window = wait_for(lambda: s.find_window(r"^orrindel mail - \(2/7\)$"), 10, 0.1, "the main window back")
            s.focus()
            shot = s.screenshot()
            check(READ_COLOUR in row_colours(shot, 4), "row 5 drawn as read")
            check(UNREAD_COLOUR in row_colours(shot, 2), "row 3 (no body) still unread")
            s.screenshot_png("list-after-viewing")
            # Enter on another row opens it too.
            s.click_row(3)
            s.key("Return")
            w = viewer(s)
            view_caption(s, 4)
            s.key("x")
            s.window = wait_for(lambda: s.find_window(r"^orrindel mail - \(4/7\)$"), 10, 0.1, "the main window back")
    finally:
        remove(data)


class CupsLab:
    def __init__(self):
        self.dir = "/tmp/omail-gui-cupslab-%d" % os.getpid()
        self.script = os.path.join(SOURCE_DIR, "scripts", "cups-lab.sh")
        subprocess.run(["sh", self.script, "start", self.dir], check=True, stdout=subprocess.DEVNULL)
        self.socket = os.path.join(self.dir, "cups.sock")

    def jobs(self):
        return sorted(glob.glob(os.path.join(self.dir, "spool", "d*-001")))

    def stop(self):
        subprocess.run(["sh", self.script, "stop", self.dir])
        subprocess.run(["rm", "-rf", self.dir])


def pdf_text(path):
    return subprocess.run(["pdftotext", path, "-"], stdout=subprocess.PIPE, check=True).stdout.decode()


def answer_yes(s):
    box = wait_for(lambda: s.find_window(r"^(omail|orrindel mail)$"), 10, 0.1, "the question")
    s.focus(box)
    s.key("alt+y")


def print_from_viewer_and_toolbar():
    if os.getuid() != 0:
        print("SKIP print_from_viewer_and_toolbar: the print server lab needs root")
        return
    lab = CupsLab()
    data = walk_store("print")
    try:
        session = Session(data, "print")
        session.env["CUPS_SERVER"] = lab.socket
        with session as s:
            s.wait_title(r"\(0/7\)$")
            s.click_row(1, double=True)
            main, s.window = s.window, viewer(s)
            s.menu("v", 8)  # "&view" > "&print item" (separators are not counted)
            answer_yes(s)
            wait_for(lambda: len(lab.jobs()) == 1, 20, 0.1, "the viewer's print job")
            text = pdf_text(lab.jobs()[0])
            check(text.find("subject 00001") < text.find("the body of item 1"), "header before body: " + text[:200])
            s.focus(viewer(s))
            s.key("x")
            s.window = wait_for(lambda: s.find_window(r"^orrindel mail - "), 10, 0.1, "the main window back")
            s.focus()
            s.click_row(4)
            s.click(*PRINT_BUTTON)
            answer_yes(s)
            wait_for(lambda: len(lab.jobs()) == 2, 20, 0.1, "the toolbar's print job")
            check("the body of item 4" in pdf_text(lab.jobs()[1]), "the toolbar printed the current item")
            s.screenshot_png("printed")
    finally:
        remove(data)
        lab.stop()


def decode_launch_save_and_dialogs():
    data = new_data_dir("launch")
    home, record = recording_desktop(data, "application/x-shellscript")
    make_folder(data, "in", 2, "U")
    with open(os.path.join(store_path(data, "in"), "N0000001.omb"), "w", newline="") as f:
        f.write("see the attached\r\nbegin 644 my run script.sh\r\n-(R$O8FEN+W-H\"F5X:70@,`H`\r\n`\r\nend\r\n")
    saved = os.path.join(data, "saved copy")
    try:
        session = Session(data, "launch")
        session.env.update(XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config", XDG_DATA_DIRS="/usr/share")
        with session as s:
            s.wait_title(r"\(0/2\)$")
            s.click_row(1)
            s.menu("v", 2)  # "&launch selected item"
            wait_for(lambda: os.path.exists(record), 15, 0.1, "the handler to be started")
            with open(record) as f:
                got = f.read()
            decoded = os.path.join(store_path(data, "DECODE"), "my run script.sh")
            check(got == "1|" + decoded, "one argument with the spaced name: " + got)
            # The decode log lists it.
            s.focus()
            s.menu("v", 3)  # "view decode lo&g"
            log = wait_for(lambda: s.find_window(r"^decode log - orrindel mail$"), 10, 0.1, "the decode log")
            s.screenshot_png("decode-log")
            s.focus(log)
            s.key("Escape")
            s.window = wait_for(lambda: s.find_window(r"^orrindel mail - "), 10, 0.1, "the main window back")
            s.focus()
            # The header dialog of the current item.
            s.menu("v", 1)  # "selected item &header"
            head = wait_for(lambda: s.find_window(r"^view item header$"), 10, 0.1, "the header dialog")
            s.screenshot_png("header-dialog")
            s.focus(head)
            s.key("Escape")
            s.focus()
            # Save as through the file dialog: a name without extension gets ".txt".
            s.click(*SAVE_BUTTON)
            dialog = wait_for(lambda: s.find_window(r"^save as$"), 10, 0.1, "the save dialog")
            s.focus(dialog)
            s.screenshot_png("save-dialog")
            s.type_text(saved)
            s.key("Return")
            wait_for(lambda: os.path.exists(saved + ".txt"), 10, 0.1, "the saved file")
            with open(saved + ".txt", "rb") as f, open(os.path.join(store_path(data, "in"), "N0000001.omb"), "rb") as g:
                check(f.read() == g.read(), "the saved copy holds the body's bytes")
    finally:
        remove(data)
        remove(home)


if __name__ == "__main__":
    run([open_walk_and_return, print_from_viewer_and_toolbar, decode_launch_save_and_dialogs])
