"""Mail as it is sent today, read as a person does: a message with an
encoded Greek subject and sender, a base64 UTF-8 text and a PDF attachment,
retrieved from the real POP3 server (dovecot on loopback through
scripts/lab); the list and the viewer show it readably, the attachment opens
from its row under the text by one key through a test XDG handler, and "r"
in the viewer opens the compose window whose saved reply quotes the text.
Also an outbox item's header edited through its dialog: the row comes back
at the end of the list with its status."""

import email
import email.policy
import os
import sys
from email.message import EmailMessage

from omailgui import (FOLDER_ROW0_Y, FOLDER_X, FOLDER_ROW_H, Session, check, make_folder, new_data_dir, read_records,
                      recording_desktop, remove, run, store_path, wait_for)
from test_retrieve import MAIL_UID, Pop3Lab, close_box

SUBJECT = "Καλημέρα από την Αθήνα"
SENDER = "Νίκος Παππάς"
TEXT = "Γεια σου Άννα,\nτο αρχείο είναι συνημμένο.\nΝίκος\n"
PDF = (b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
       b"2 0 obj<</Type/Pages/Kids[]/Count 0>>endobj\ntrailer<</Root 1 0 R>>\n%%EOF\n" + bytes(range(256)))
LAB = None


def utf8(field):
    """A list field as the program wrote it (read_records reads Latin-1)."""
    return field.encode("latin-1").decode("utf-8")


def todays_message():
    m = EmailMessage()
    m["From"] = "%s <nikos@gui.test>" % SENDER
    m["To"] = "ann@gui.test"
    m["Subject"] = SUBJECT
    m["Date"] = "Sat, 6 Dec 2025 10:00:00 +0000"
    m["Message-Id"] = "<greek.1@gui.test>"
    m.set_content(TEXT, charset="utf-8", cte="base64")
    m.add_attachment(PDF, maintype="application", subtype="pdf", filename="report.pdf")
    raw = m.as_bytes(policy=email.policy.SMTP)
    check(b"=?utf-8?b?" in raw.lower() and b"Content-Transfer-Encoding: base64" in raw, "the message is encoded")
    return raw


def focus_viewer(s):
    w = wait_for(lambda: s.find_window(r"^view - orrindel mail - in \(1/1\)$"), 10, 0.1, "the viewer")
    s.focus(w)
    return w


def retrieved_greek_mail_reads_opens_and_is_quoted():
    data = new_data_dir("todaysmail", LAB.ini())
    home, record = recording_desktop(data, "application/pdf")
    path = os.path.join(LAB.maildir, "new", "1700000000.1.greek")
    with open(path, "wb") as f:
        f.write(todays_message())
    os.chown(path, MAIL_UID, MAIL_UID)
    try:
        session = Session(data, "todaysmail")
        session.env.update(XDG_DATA_HOME=home + "/data", XDG_CONFIG_HOME=home + "/config", XDG_DATA_DIRS="/usr/share")
        with session as s:
            s.menu("r", 0)  # "&retrieve", "&email messages"
            close_box(s)
            s.wait_title(r"\(0/1\)$")
            rec = read_records(data, "in")[0]
            check(utf8(rec[4]) == SUBJECT, "the list's subject is decoded: %r" % rec[4])
            check(utf8(rec[2]).startswith(SENDER), "the list's author is decoded: %r" % rec[2])
            s.screenshot_png("list")
            s.click_row(0)
            s.key("Return")
            viewer = focus_viewer(s)
            s.screenshot_png("viewer")
            # The attachment is listed under the text as part 1: its key
            # decodes it and starts the desktop's PDF application.
            s.key("1")
            wait_for(lambda: os.path.exists(record), 15, 0.1, "the PDF handler to be started")
            with open(record) as f:
                got = f.read()
            decoded = os.path.join(store_path(data, "DECODE"), "report.pdf")
            check(got == "1|" + decoded, "the handler got the decoded file: " + got)
            with open(decoded, "rb") as f:
                check(f.read() == PDF, "the PDF is decoded byte for byte")
            # "r" answers from the viewer; the compose window's "&ok" files it.
            s.focus(viewer)
            s.key("r")
            compose = wait_for(lambda: s.find_window(r"^compose - orrindel mail - reply message$"), 20, 0.1,
                               "the reply window")
            check(not s.find_window(r"^view - "), "the viewer is hidden while composing")
            s.screenshot_png("reply")
            s.focus(compose)
            s.key("alt+c")
            s.focus(compose)
            s.key("Return")
            focus_viewer(s)  # back in the viewer, not the main window
            out = store_path(data, "out")
            rows = wait_for(lambda: read_records(data, "out"), 10, 0.1, "the reply in the outbox")
            name = rows[0][0]
            with open(os.path.join(out, name[:-1] + "b"), "rb") as f:
                body = f.read().decode("utf-8")
            quoted = "".join(">" + line + "\r\n" for line in TEXT.splitlines())
            check(quoted in body, "the reply quotes the text as shown: %r" % body)
            check("base64" not in body and "report.pdf" not in body, "no MIME lines quoted: %r" % body)
            with open(os.path.join(out, name), "rb") as f:
                header = email.message_from_bytes(f.read(), policy=email.policy.default)
            check(header["subject"] == "Re: " + SUBJECT, "the reply's subject: %r" % header["subject"])
            check(header["to"].addresses[0].display_name == SENDER, "the reply's recipient: %r" % header["to"])
            check(utf8(read_records(data, "out")[0][4]) == "Re: " + SUBJECT, "the outbox row is readable")
            s.key("x")
            s.window = wait_for(lambda: s.find_window(r"^orrindel mail - "), 10, 0.1, "the main window back")
    finally:
        remove(data)
        remove(home)


def an_edited_outbox_header_comes_back_at_the_end_with_its_status():
    data = new_data_dir("outboxedit")
    make_folder(data, "out", 3, "U")
    lst = os.path.join(store_path(data, "out"), "n.lst")
    records = read_records(data, "out")
    records[0][1] = "R"
    with open(lst, "w", newline="") as f:
        f.write("".join("\r\n".join(r) + "\r\n" for r in records))
    try:
        with Session(data, "outboxedit") as s:
            s.click(FOLDER_X, FOLDER_ROW0_Y + FOLDER_ROW_H)  # "out"
            s.wait_title(r"/3\)$")
            s.click_row(0)
            s.menu("c", 6)  # "&compose", "e&dit selected item header in outbox"
            head = wait_for(lambda: s.find_window(r"^edit item header$"), 10, 0.1, "the header dialog")
            s.focus(head)
            s.key("ctrl+a")
            for n, line in enumerate(["To: new@gui.test", "From: me@gui.test", "Subject: edited by hand",
                                      "Date: Sat, 6 Dec 2025 11:00:00 +0000"]):
                if n:
                    s.key("Return")
                s.type_text(line)
            s.screenshot_png("edit-header")
            x, y, w, h = s.window_geometry(head)
            s.click(x + w - 150, y + h - 24)  # "ok", left of "cancel"
            wait_for(lambda: not s.find_window(r"^edit item header$"), 10, 0.1, "the dialog to close")
            s.focus()
            rows = wait_for(lambda: (lambda r: r if r and r[-1][4] == "edited by hand" else None)(
                read_records(data, "out")), 10, 0.1, "the rebuilt row")
            check(len(rows) == 3, "still three items: %s" % rows)
            check(rows[-1][0] == "N0000000.omh" and rows[-1][1] == "R", "at the end with its status: %s" % rows[-1])
            check(rows[-1][3] == "new@gui.test", "rebuilt from the edited header: %s" % rows[-1])
            with open(os.path.join(store_path(data, "out"), "N0000000.omh"), "rb") as f:
                check(f.read().startswith(b"To: new@gui.test\r\nFrom: me@gui.test\r\n"), "the header file as typed")
            s.screenshot_png("rebuilt")
    finally:
        remove(data)


if __name__ == "__main__":
    if os.geteuid() != 0 or not os.path.exists("/usr/sbin/dovecot"):
        print("SKIP: the POP3 lab needs root and dovecot")
        sys.exit(0)
    LAB = Pop3Lab()
    try:
        run([retrieved_greek_mail_reads_opens_and_is_quoted,
             an_edited_outbox_header_comes_back_at_the_end_with_its_status])
    finally:
        LAB.stop()
