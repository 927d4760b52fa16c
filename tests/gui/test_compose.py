"""Writing and sending as a person does: a new message from the toolbar's
compose pop-up with the recipient double-clicked in the address book and a
file attached through the file dialog, delivered from the "&deliver" menu to
the real SMTP server (OpenSMTPD on loopback, started through scripts/lab);
a reply from the compose pop-up; and the address book edited by keys with
its file checked byte for byte."""

import os
import sys
import time

from omailgui import (ServerLab, Session, check, new_data_dir, read_records, remove, run, wait_for)

COMPOSE_BUTTON = (189, 47)


class SmtpLab(ServerLab):
    """The lab's SMTP server for the whole file."""

    def __init__(self):
        super().__init__("smtplab", "pop3 nntp")
        self.mailbox = os.path.join(self.env["SMTP_MAILDIR"], "new")

    def messages(self):
        texts = []
        for name in sorted(os.listdir(self.mailbox)):
            with open(os.path.join(self.mailbox, name), "rb") as f:
                texts.append(f.read().decode("utf-8", "replace"))
        return texts

    def ini(self):
        return ("smtp=127.0.0.1:%s\nrname=Gui Tester\nemail=tester@gui.test\nuser=tester\npop=gui.test\n"
                "timez=+0000\nreply=$%%^&*\norg=$%%^&*\nsigfile=$%%^&*\n" % self.env["SMTP_PORT"])


LAB = None
ADDRESS_LINE = "Ann Example              ann@gui.test\r\n"


def wait_window(s, pattern, what):
    window = wait_for(lambda: s.find_window(pattern), 20, 0.1, what)
    s.focus(window)
    return window


def close_box(s):
    box = wait_for(lambda: s.find_window(r"^orrindel mail$"), 30, what="the information box")
    s.screenshot_png("box")
    s.focus(box)
    s.key("Return")
    wait_for(lambda: not s.find_window(r"^orrindel mail$"), 5, what="the box to close")
    s.focus()


def menu_entry(s, title_key, position, window=None):
    """A menu entry by keys: opening a menu by its access key highlights its
    first enabled entry; position counts the enabled entries from there."""
    s.focus(window)
    s.key("alt+" + title_key)
    s.focus(window)
    s.key(*(["Down"] * position), "Return")


def open_compose_popup(s, position):
    s.focus()
    # Moved with --sync only from elsewhere: a pointer already in place
    # gives no motion to wait for.
    s.xdo("mousemove", "--sync", COMPOSE_BUTTON[0] + 40, COMPOSE_BUTTON[1] + 200)
    s.xdo("mousemove", "--sync", *COMPOSE_BUTTON)
    s.xdo("mousedown", 1)
    s.xdo("mouseup", 1)
    time.sleep(0.2)
    s.key(*(["Down"] * (position + 1)), "Return")


def compose_ok(s, window):
    menu_entry(s, "c", 0, window)  # "&compose", "&ok"
    wait_for(lambda: not s.find_window(r"^compose - "), 10, what="the compose window to close")
    s.window = wait_for(lambda: s.find_window(r"^orrindel mail - "), 10, 0.1, "the main window again")
    s.focus()


def new_message_with_picked_address_and_attachment_is_delivered():
    LAB_clear()
    data = new_data_dir("compose", LAB.ini())
    attachment = data + "-notes.txt"
    with open(attachment, "wb") as f:
        f.write(b"".join(b"attached line %d\n" % i for i in range(40)))
    with open(os.path.join(data, "OMAIL.ALA"), "w", newline="") as f:
        f.write(ADDRESS_LINE)
    try:
        with Session(data, "compose") as s:
            open_compose_popup(s, 0)  # "new email message"
            compose = wait_window(s, r"^compose - orrindel mail - new message$", "the compose window")
            check(not s.find_window(r"^orrindel mail - "), "the main window is hidden while composing")
            s.screenshot_png("new-message")
            cx, cy, cw, ch = s.window_geometry(compose)
            # The focus starts in the "to" field; its button is just before it.
            s.key("shift+Tab", "space")
            book = wait_window(s, r"^address book$", "the address book")
            s.screenshot_png("address-book-picking")
            bx, by, _, _ = s.window_geometry(book)
            s.click(bx + 60, by + 20, double=True)
            wait_for(lambda: not s.find_window(r"^address book$"), 10, what="the address book to close")
            s.focus(compose)
            s.key("Tab")
            s.type_text("notes for ann")
            s.key("Tab", "Tab", "Tab", "space")  # cc button, cc field, attachment button
            dialog = wait_window(s, r"^select file to attach$", "the file dialog")
            s.screenshot_png("file-dialog")
            s.type_text(os.path.abspath(attachment))
            s.key("Return")
            wait_for(lambda: not s.find_window(r"^select file to attach$"), 10, what="the file dialog to close")
            s.focus(compose)
            s.click(cx + cw // 2, cy + ch - 60)  # into the body
            for n, line in enumerate(["Hello Ann,", ".a line with a dot", "bye"]):
                if n:
                    s.key("Return")
                s.type_text(line)
            s.screenshot_png("filled")
            compose_ok(s, compose)
            outbox = read_records(data, "out")
            check([r[4] for r in outbox] == ["notes for ann -- %s (0/1)" % os.path.basename(attachment),
                                            "notes for ann -- %s (1/1)" % os.path.basename(attachment)],
                  "outbox: %s" % outbox)
            menu_entry(s, "d", 0)  # "&deliver", "send &email messages in outbox"
            close_box(s)
            wait_for(lambda: len(LAB.messages()) == 2, 20, 0.2, "two messages in the mailbox")
            texts = LAB.messages()
            check(all("To: Ann Example <ann@gui.test>\n" in t for t in texts), "addressed: %s" % texts[0][:400])
            body = [t for t in texts if "(0/1)" in t.split("\n\n")[0]]
            check(body and "\nHello Ann,\n.a line with a dot\nbye\n" in body[0], "body as typed: %s" % body)
            part = [t for t in texts if "(1/1)" in t.split("\n\n")[0]]
            check(part and "begin 6" in part[0] and "end" in part[0], "the uuencoded part")
            check(len(read_records(data, "sent")) == 2 and not read_records(data, "out"), "filed into sent")
    finally:
        remove(data)
        os.remove(attachment)


def reply_from_the_compose_popup():
    data = new_data_dir("reply", LAB.ini())
    inbox = os.path.join(data, "IN")
    os.makedirs(inbox)
    with open(os.path.join(inbox, "N0000001.omh"), "w", newline="") as f:
        f.write("+OK\r\nFrom: Bob <bob@gui.test>\r\nReply-To: Bob Desk <desk@gui.test>\r\nTo: tester@gui.test\r\n"
                "Subject: question\r\nDate: Sat, 6 Dec 2025 10:00:00 +0000\r\nMessage-Id: <q1@gui.test>\r\n")
    with open(os.path.join(inbox, "N0000001.omb"), "w", newline="") as f:
        f.write("is it done?\r\n")
    with open(os.path.join(inbox, "n.lst"), "w", newline="") as f:
        f.write("N0000001.omh\r\nU\r\nBob Desk\r\ntester\r\nquestion\r\n06 Dec 25\r\n20251206100000\r\n1\r\n"
                "<q1@gui.test>\r\n")
    with open(os.path.join(inbox, "n.cnt"), "w", newline="") as f:
        f.write("1\r\n")
    try:
        with Session(data, "reply") as s:
            s.click_row(0)
            open_compose_popup(s, 1)  # "reply via email"
            compose = wait_window(s, r"^compose - orrindel mail - reply message$", "the reply window")
            s.screenshot_png("reply")
            compose_ok(s, compose)
            header = open(os.path.join(data, "OUT", "N0000000.omh"), newline="").read()
            check(header.startswith("To: Bob Desk <desk@gui.test>\r\n"), header)
            check("\r\nReferences: <q1@gui.test>\r\n" in header and "\r\nSubject: Re: question\r\n" in header, header)
            body = open(os.path.join(data, "OUT", "N0000000.omb"), newline="").read()
            check(body == "on 06 Dec 25, Bob Desk wrote...\r\n\r\n>is it done?\r\n", repr(body))
            # The other entries of the pop-up, each closed with "ca&ncel".
            s.click_folder(0)
            s.click_row(0)
            for position, caption in ((2, "new article"), (3, "follow up article"), (4, "forward"),
                                      (5, "new message")):
                open_compose_popup(s, position)
                compose = wait_window(s, r"^compose - orrindel mail - %s$" % caption, caption)
                s.screenshot_png(caption.replace(" ", "-"))
                menu_entry(s, "c", 1, compose)
                wait_for(lambda: not s.find_window(r"^compose - "), 10, what="the compose window to close")
                s.window = wait_for(lambda: s.find_window(r"^orrindel mail - "), 10, 0.1, "the main window again")
            check(len(read_records(data, "out")) == 1, "cancel wrote nothing")
    finally:
        remove(data)


def address_book_add_sort_and_remove():
    data = new_data_dir("addrbook")
    try:
        with Session(data, "addrbook") as s:
            menu_entry(s, "s", 1)  # "&settings", "&address book" (after "&general")
            book = wait_window(s, r"^address book$", "the address book")
            # "add" has the focus; the two fields are before it.
            for name, address in (("Zed", "zed@gui.test"), ("bea", "bea@gui.test"), ("Cid", "cid@gui.test")):
                s.key("shift+Tab", "shift+Tab")
                s.key("ctrl+a")
                s.type_text(name)
                s.key("Tab", "ctrl+a")
                s.type_text(address)
                s.key("Return", "Tab")  # add, then back on the "add" button
            s.key("Tab", "Tab", "Tab", "space")  # remove, modify, sort
            s.screenshot_png("sorted")
            bx, by, _, _ = s.window_geometry(book)
            s.click(bx + 60, by + 18)  # the first entry, then down to the third: Zed
            s.key("Down", "Down")
            s.key("Tab", "Tab", "Tab", "Tab", "space")  # name, address, add, remove
            s.screenshot_png("removed")
            s.key("Tab", "Tab", "Tab", "Tab", "space")  # modify, sort, clear, ok
            wait_for(lambda: not s.find_window(r"^address book$"), 10, what="the address book to close")
        with open(os.path.join(data, "OMAIL.ALA"), "rb") as f:
            book_bytes = f.read()
        expected = b"bea" + b" " * 22 + b"bea@gui.test\r\nCid" + b" " * 22 + b"cid@gui.test\r\n"
        check(book_bytes == expected, repr(book_bytes))
    finally:
        remove(data)


def LAB_clear():
    for name in os.listdir(LAB.mailbox):
        os.remove(os.path.join(LAB.mailbox, name))


if __name__ == "__main__":
    if os.geteuid() != 0 or not os.path.exists("/usr/sbin/smtpd"):
        print("SKIP: the SMTP lab needs root and OpenSMTPD")
        sys.exit(0)
    LAB = SmtpLab()
    try:
        run([new_message_with_picked_address_and_attachment_is_delivered, reply_from_the_compose_popup,
             address_book_add_sort_and_remove])
    finally:
        LAB.stop()
