"""Folders and settings as a person meets them: the first start that asks
for the account, a personal folder made, filled, searched, expired, renamed
and deleted by mouse and keys, the list colours changed in the settings,
and the help from the toolbar."""

import os
import stat
import time

from omailgui import (FOLDER_ROW0_Y, FOLDER_ROW_H, FOLDER_X, LIST_ROW0_Y, LIST_ROW_H, SUBJECT_X, Session, check,
                      colour_of_setting, make_folder, new_data_dir, read_count, read_records, remove, run, store_path,
                      wait_for)

import tempfile

MAIL_HEADER = (FOLDER_X + 20, FOLDER_ROW0_Y - 17)
HELP_BUTTON = (401, 47)  # the eighth toolbar button

KEY_ORDER = ["rname", "email", "reply", "org", "smtp", "pop", "nntp", "user", "pass", "timez", "timei", "sigfile",
             "asize", "hlimit", "fontnam", "fontstl", "fontsiz", "backcol", "normcol", "unredcol", "headcol",
             "readcol", "highcol", "markcol", "seltcol", "xnoarc", "autodlv", "enctyp"]
# Our own keys follow, in this order.
OWN_KEY_ORDER = ["popsec", "smtpsec", "nntpsec", "smtpuser", "smtppass", "newsuser", "newspass", "leave",
                 "leavedays", "uidl", "smtppipe"]


def ini_keys(data):
    with open(os.path.join(data, "omail.ini")) as f:
        return [line.split("=", 1) for line in f.read().splitlines() if "=" in line]


def menu(s, title_key, position):
    """Picks the entry at a position of a main-menu title (0 the first
    enabled one): a menu opened by its access key starts on its first entry."""
    s.key("alt+" + title_key)
    s.focus()
    s.key(*(["Down"] * position), "Return")


def wait_window(s, pattern, what):
    return wait_for(lambda: s.find_window(pattern), 10, what=what)


def wait_gone(s, pattern, what):
    wait_for(lambda: not s.find_window(pattern), 10, what=what + " to close")


def answer_prompt(s, caption, text):
    """Types into the one-line prompt of that caption and confirms it."""
    prompt = wait_window(s, "^%s$" % caption, "the prompt " + caption)
    s.focus(prompt)
    s.type_text(text)
    s.key("Return")
    wait_gone(s, "^%s$" % caption, "the prompt")
    s.focus()


def first_start_asks_for_the_account():
    data = tempfile.mkdtemp(prefix="omail-gui-first-")
    try:
        with Session(data, "first") as s:
            gen = wait_window(s, r"^general settings$", "the settings dialog on the first start")
            s.focus(gen)
            s.screenshot_png("settings-identity")
            s.type_text("Ann Lee")  # the name field has the focus, its text selected
            s.key("ctrl+Tab")  # the "account" page
            time.sleep(0.3)
            s.focus(gen)
            s.screenshot_png("settings-account")
            # The page opens on its first field; then pop, nntp, user, password.
            for i, text in enumerate(["smtp.test:2525", "pop.test:1110", "news.test:1119", "ann", "s3cret"]):
                if i:
                    s.key("Tab")
                s.key("ctrl+a")
                s.type_text(text)
            # Past the time zone, the pop security: two steps down is TLS.
            s.key("Tab", "Tab", "Down", "Down")
            # Nine fields on (the days field is off while mail is not left), the
            # pipelining switch: Space turns it on.
            s.key(*["Tab"] * 9, "space")
            s.screenshot_png("settings-account-filled")
            s.key("Return")  # ok is the default button
            wait_gone(s, r"^general settings$", "the settings dialog")
        path = os.path.join(data, "omail.ini")
        check(stat.S_IMODE(os.stat(path).st_mode) == 0o600, "omail.ini is readable by its owner only")
        keys = ini_keys(data)
        values = dict(keys)
        check([k for k, _ in keys][:len(KEY_ORDER)] == KEY_ORDER, "keys in their order: %s" % [k for k, _ in keys])
        check([k for k, _ in keys][len(KEY_ORDER):len(KEY_ORDER) + len(OWN_KEY_ORDER)] == OWN_KEY_ORDER, "own keys after them: %s" % keys)
        for key, value in [("popsec", "2"), ("smtpsec", "0"), ("smtppipe", "1"), ("uidl", "0"), ("leave", "0"), ("rname", "Ann Lee"), ("smtp", "smtp.test:2525"), ("pop", "pop.test:1110"),
                           ("nntp", "news.test:1119"), ("user", "ann"), ("pass", "s3cret")]:
            check(values.get(key) == value, "%s is %r, not %r" % (key, values.get(key), value))
    finally:
        remove(data)


def a_personal_folder_from_creation_to_deletion():
    data = new_data_dir("folder")
    make_folder(data, "in", 6, "R")
    try:
        with Session(data, "folder") as s:
            s.wait_title(r"\(0/6\)$")
            s.click(*MAIL_HEADER)
            answer_prompt(s, "please enter a folder name", "work")
            with open(os.path.join(data, "folders.lst"), "rb") as f:
                check(f.read() == b"work\r\n", "folders.lst names the new folder")
            s.screenshot_png("folder-created")
            # Three rows by Control-click, moved from the list's pop-up menu.
            for row in [1, 3, 4]:
                s.click_row(row, modifiers=["ctrl"] if row != 1 else [])
            s.screenshot_png("three-selected")
            s.click(SUBJECT_X, LIST_ROW0_Y + 4 * LIST_ROW_H, button=3)
            time.sleep(0.3)
            s.key("Down", "Down", "Return")  # "select all", then "move"
            picker = wait_window(s, r"^move$", "the folder picker")
            s.focus(picker)
            s.screenshot_png("move-picker")
            s.key("Return")
            wait_gone(s, r"^move$", "the folder picker")
            s.focus()
            s.wait_title(r"\(0/3\)$")
            check(read_count(data, "work") == 3, "three items in the new folder")
            moved = {r[4] for r in read_records(data, "work")}
            check(moved == {"subject 00001", "subject 00003", "subject 00004"}, "the selected items moved: %s" % moved)
            # Open it by mouse, find one item with "f" and highlight it.
            s.click_folder(4)
            s.wait_title(r"\(0/3\)$")
            s.click_row(0)
            target = sorted(moved)[-1]
            s.key("Home")
            s.key("f")
            answer_prompt(s, "enter text to find", target.split()[-1])
            menu(s, "o", 5)  # "&highlight selected items"
            wait_for(lambda: [r[1] for r in read_records(data, "work") if r[4] == target] == ["H"], 5,
                     what="the found item highlighted")
            s.screenshot_png("highlighted")
            # Expire the read ones: the highlighted item stays.
            menu(s, "o", 10)  # "e&xpire selected folder or group"
            expiry = wait_window(s, r"^select expiry method$", "the expiry dialog")
            s.focus(expiry)
            s.screenshot_png("expiry-dialog")
            s.key("shift+Tab", "shift+Tab")
            s.key("space")  # "expire read items" has the focus two back from the days
            wait_gone(s, r"^select expiry method$", "the expiry dialog")
            s.focus()
            s.wait_title(r"\(0/1\)$")
            check([r[4] for r in read_records(data, "work")] == [target], "only the highlighted item stays")
            # Rename and delete it from the folder pane's pop-up menu.
            s.click_folder(4, button=3)
            time.sleep(0.3)
            s.key("Down", "Down", "Return")  # "rename personal folder"
            answer_prompt(s, "please enter a folder name", "job")
            check(os.path.isdir(os.path.join(data, "job")) and not os.path.exists(os.path.join(data, "work")),
                  "the directory renamed")
            s.click_folder(4, button=3)
            time.sleep(0.3)
            s.key("Down", "Down", "Down", "Return")  # "delete personal folder"
            question = wait_window(s, r"^delete this folder\?$", "the question")
            s.focus(question)
            s.key("Return")  # "yes" has the focus
            wait_gone(s, r"^delete this folder\?$", "the question")
            wait_for(lambda: not os.path.exists(os.path.join(data, "job")), 5, what="the folder deleted")
            with open(os.path.join(data, "folders.lst"), "rb") as f:
                check(f.read() == b"", "folders.lst is empty again")
    finally:
        remove(data)


def list_colours_change_in_the_settings():
    data = new_data_dir("colours")
    make_folder(data, "in", 3, "U")
    try:
        with Session(data, "colours") as s:
            s.wait_title(r"\(0/3\)$")
            grey = colour_of_setting(12632256)
            background = lambda: s.screenshot().pixel(300, LIST_ROW0_Y + 8 * LIST_ROW_H)
            check(background() == grey, "the list starts grey")
            menu(s, "s", 0)  # "&general"
            gen = wait_window(s, r"^general settings$", "the settings dialog")
            s.focus(gen)
            s.key("ctrl+Tab", "ctrl+Tab", "ctrl+Tab")  # "appearance": its font button has the focus
            s.key("Tab", "space")  # "colors"
            col = wait_window(s, r"^colors$", "the colours dialog")
            s.focus(col)
            s.screenshot_png("colours-dialog")
            s.key(*(["shift+Tab"] * 8), "space")  # from ok back to the background's "select"
            chooser = wait_for(lambda: [w for w in s.windows() if w not in (s.window, gen, col)], 10,
                               what="the colour chooser")[0]
            s.focus(chooser)
            s.screenshot_png("colour-chooser")
            x, y, _, _ = s.window_geometry(chooser)
            s.click(x + 53, y + 115)  # the basic red
            s.click(x + 391, y + 381)  # "OK"
            time.sleep(0.5)
            s.focus(col)
            s.key("Return")  # ok
            wait_gone(s, r"^colors$", "the colours dialog")
            s.focus(gen)
            s.screenshot_png("settings-appearance")
            s.key("Return")
            wait_gone(s, r"^general settings$", "the settings dialog")
            chosen = int(dict(ini_keys(data))["backcol"])
            check(chosen != 12632256, "another background was stored")
            s.focus()
            wait_for(lambda: background() == colour_of_setting(chosen), 5, what="the list in the new colour")
            s.screenshot_png("list-recoloured")
    finally:
        remove(data)


def help_opens_from_the_toolbar():
    data = new_data_dir("help")
    try:
        with Session(data, "help") as s:
            s.wait_title(r"\(0/0\)$")
            s.click(*HELP_BUTTON)
            viewer = wait_window(s, r"^orrindel mail help$", "the help viewer")
            s.screenshot_png("help")
            _, _, width, height = s.window_geometry(viewer)
            check(width > 300 and height > 300, "the help window has room for its text")
            s.focus()
            menu(s, "h", 1)  # "&about orrindel mail"
            about = wait_window(s, r"^orrindel mail$", "the about box")
            s.screenshot_png("about")
            s.focus(about)
            s.key("Return")
            wait_gone(s, r"^orrindel mail$", "the about box")
    finally:
        remove(data)


def every_settings_page_and_the_font_and_options_dialogs():
    data = new_data_dir("pages")
    try:
        with Session(data, "pages") as s:
            s.wait_title(r"\(0/0\)$")
            menu(s, "s", 0)  # "&general"
            gen = wait_window(s, r"^general settings$", "the settings dialog")
            for page, steps in (("attachments", 2), ("appearance", 1), ("miscellaneous", 1)):
                s.focus(gen)
                s.key(*(["ctrl+Tab"] * steps))
                time.sleep(0.3)
                s.screenshot_png("settings-" + page)
            s.key("ctrl+shift+Tab")  # back to "appearance": its font button has the focus
            s.focus(gen)
            s.key("space")
            font = wait_window(s, r"^font$", "the font dialog")
            s.focus(font)
            s.screenshot_png("font-dialog")
            s.key("Tab")  # the size
            s.key("ctrl+a")
            s.type_text("20")
            s.key("Return")
            box = wait_window(s, r"^orrindel mail$", "the box about the size")
            s.screenshot_png("font-size-refused")
            s.focus(box)
            s.key("Return")
            wait_gone(s, r"^orrindel mail$", "the box")
            check(s.find_window(r"^font$"), "the font dialog stays open after a size out of range")
            s.focus(font)
            s.key("ctrl+a")
            s.type_text("11")
            s.key("Return")
            wait_gone(s, r"^font$", "the font dialog")
            s.focus(gen)
            s.screenshot_png("settings-appearance-font")
            s.key("Return")
            wait_gone(s, r"^general settings$", "the settings dialog")
            check(dict(ini_keys(data)).get("fontsiz") == "11", "the size typed is stored: %r" % dict(ini_keys(data)).get("fontsiz"))
            s.focus()
            s.key("alt+s")
            s.focus()
            # "personal &folders" (the fourth entry), its submenu opened by Right, then "&options"
            s.key("Down", "Down", "Down", "Right", "Down", "Down", "Down", "Return")
            opts = wait_window(s, r"^personal folder options \(global\)$", "the folder options dialog")
            s.focus(opts)
            s.screenshot_png("folder-options")
            s.key("Escape")
            wait_gone(s, r"^personal folder options", "the folder options dialog")
    finally:
        remove(data)


if __name__ == "__main__":
    run([first_start_asks_for_the_account, a_personal_folder_from_creation_to_deletion, list_colours_change_in_the_settings,
         help_opens_from_the_toolbar, every_settings_page_and_the_font_and_options_dialogs])
