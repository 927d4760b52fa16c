"""The main window as a person meets it: opening folders with the mouse and
the keyboard, sorting by column, selecting rows, typing in a huge folder,
and the pop-up menus."""

import os
import time

from omailgui import (FOLDER_ROW0_Y, FOLDER_ROW_H, FOLDER_X, LIST_ROW0_Y, LIST_ROW_H, SUBJECT_X, Session, check,
                      colour_of_setting, make_folder, new_data_dir, remove, run, wait_for)

# Each folder's items carry their own status, so the text colour of the
# rows shows whose items the list holds (default colours of the settings).
FOLDERS = [("in", 3, "U"), ("out", 2, "R"), ("sent", 4, "M"), ("bin", 5, "H"), ("big", 1000, "R")]
TEXT_COLOUR = {"U": 0, "R": 255, "M": 4259584, "H": 8453888}
BACKGROUND = colour_of_setting(12632256)


def folder_store(name):
    data = new_data_dir(name, personal=["big"])
    for folder, count, status in FOLDERS:
        make_folder(data, folder, count, status, prefix=folder)
    return data


def row_text_colours(shot, row):
    y = LIST_ROW0_Y + row * LIST_ROW_H
    return {c for dy in range(-4, 5) for c in shot.colours_in_row(y + dy, 5, 400)}


def shows_folder(s, count, status):
    s.wait_title(r"\(0/%d\)$" % count)
    shot = s.screenshot()
    colour = colour_of_setting(TEXT_COLOUR[status])
    others = {colour_of_setting(v) for k, v in TEXT_COLOUR.items() if k != status} - {colour}
    seen = row_text_colours(shot, 0)
    check(colour in seen, "first row drawn in the colour of status %s" % status)
    check(not (seen & others), "no row text of another folder's status")


def open_every_folder_by_mouse_and_keyboard():
    data = folder_store("folders")
    try:
        with Session(data, "folders") as s:
            shows_folder(s, 3, "U")  # the inbox at start
            # Mouse: each folder in turn, in an order that never follows the pane.
            for row in [4, 1, 3, 0, 2, 4]:
                folder, count, status = FOLDERS[row]
                s.click_folder(row)
                shows_folder(s, count, status)
                s.screenshot_png("mouse-" + folder)
            # Keyboard: the arrow keys walk the pane from "in" to "big".
            s.click_folder(0)
            shows_folder(s, 3, "U")
            for row in range(1, 5):
                s.key("Down")
                shows_folder(s, FOLDERS[row][1], FOLDERS[row][2])
            s.key("Home")
            shows_folder(s, 3, "U")
    finally:
        remove(data)


def sort_by_header_click_and_shift_arrows():
    data = new_data_dir("sort", personal=["big"])
    make_folder(data, "big", 1000, "U")
    big = os.path.join(data, "big")
    try:
        with Session(data, "sort") as s:
            s.click_folder(4)
            s.wait_title(r"\(0/1000\)$")
            check(os.path.exists(os.path.join(big, "n7.idx")), "date order at start")
            for column, sort_type in [(3, 5), (1, 3), (5, 8)]:
                s.click_header(column)
                wait_for(lambda: os.path.exists(os.path.join(big, "n%d.idx" % sort_type)), 5,
                         what="index of sort type %d" % sort_type)
            # The list has the focus after a click in it; Shift+Left and
            # Shift+Right move the sorted column: 5 -> 4 -> 3 -> 4.
            s.click_row(0)
            for name in ["n7.idx", "n5.idx"]:
                os.remove(os.path.join(big, name))
            s.key("shift+Left")
            wait_for(lambda: os.path.exists(os.path.join(big, "n7.idx")), 5, what="date index again")
            s.key("shift+Left")
            wait_for(lambda: os.path.exists(os.path.join(big, "n5.idx")), 5, what="subject index again")
            os.remove(os.path.join(big, "n7.idx"))
            s.key("shift+Right")
            wait_for(lambda: os.path.exists(os.path.join(big, "n7.idx")), 5, what="date index by shift+Right")
            s.screenshot_png("sorted")
    finally:
        remove(data)


def shift_and_control_clicks_select_in_complement_colours():
    data = new_data_dir("select", personal=["big"])
    make_folder(data, "big", 1000, "R")
    selected = colour_of_setting(16777215 - TEXT_COLOUR["R"])  # cyan behind red text
    try:
        with Session(data, "select") as s:
            s.click_folder(4)
            s.wait_title(r"\(0/1000\)$")
            s.click_row(1)
            s.wait_title(r"\(2/1000\)$")
            s.click_row(3, modifiers=["shift"])
            s.click_row(6, modifiers=["ctrl"])
            s.wait_title(r"\(7/1000\)$")
            shot = s.screenshot()
            s.screenshot_png("selected")
            for row in range(0, 8):
                y = LIST_ROW0_Y + row * LIST_ROW_H
                behind = shot.pixel(SUBJECT_X + 120, y)
                want = selected if row in (1, 2, 3, 6) else BACKGROUND
                check(behind == want, "row %d background %s, expected %s" % (row, behind, want))
            # Ctrl+click again takes the row out of the selection.
            s.click_row(2, modifiers=["ctrl"])
            shot = s.screenshot()
            check(shot.pixel(SUBJECT_X + 120, LIST_ROW0_Y + 2 * LIST_ROW_H) == BACKGROUND, "row 2 deselected")
    finally:
        remove(data)


def typing_in_a_huge_folder_opens_find_without_reading_it():
    data = new_data_dir("huge", personal=["huge"])
    make_folder(data, "huge", 100000, "U", files=False)
    try:
        with Session(data, "huge") as s:
            s.click_folder(0)  # "in" is current already: this only focuses the pane
            s.key("Down", "Down", "Down", "Down")
            s.wait_title(r"\(0/100000\)$", 60)
            s.click_row(2)
            s.wait_title(r"\(3/100000\)$")
            time.sleep(0.3)
            before = s.read_io()
            s.key("a")
            prompt = wait_for(lambda: s.find_window(r"^enter text to find$"), 5, what="the find prompt")
            read = s.read_io() - before
            s.screenshot_png("find-prompt")
            # The list is ~10 MB; drawing a page reads a few kilobytes.
            check(read < 1_000_000, "typing read %d bytes of the folder" % read)
            s.focus(prompt)
            s.type_text("author00009")
            s.key("Return")
            s.wait_title(r"\(3/100000\)$")  # find does not change the caption
            # The space bar leaves the selection where it is.
            before = s.read_io()
            s.key("space")
            check(s.read_io() - before < 1_000_000, "the space bar read the folder")
    finally:
        remove(data)


def popup_menus_open_at_the_pointer():
    data = new_data_dir("popup")
    make_folder(data, "in", 20, "U")
    try:
        with Session(data, "popup") as s:
            s.wait_title(r"\(0/20\)$")
            for x, y in [(SUBJECT_X, LIST_ROW0_Y + 5 * LIST_ROW_H), (FOLDER_X, FOLDER_ROW0_Y + 2 * FOLDER_ROW_H),
                         (300, 330)]:
                before = set(s.windows())
                s.click(x, y, button=3)
                popup = wait_for(lambda: set(s.windows()) - before, 5, what="a pop-up menu")
                px, py, _, _ = s.window_geometry(popup.pop())
                s.screenshot_png("popup-%d-%d" % (x, y))
                check(abs(px - x) <= 2 and abs(py - y) <= 2, "pop-up at %d,%d for a click at %d,%d" % (px, py, x, y))
                s.key("Escape")
                wait_for(lambda: not (set(s.windows()) - before), 5, what="the pop-up to close")
    finally:
        remove(data)


def the_status_bar_keeps_its_text_under_menu_hints():
    data = new_data_dir("status")
    try:
        with Session(data, "status") as s:
            s.wait_title(r"\(0/0\)$")
            status_bar = lambda shot: [shot.pixel(x, y) for y in range(462, 478) for x in range(0, 200)]
            before = status_bar(s.screenshot())
            check(len(set(before)) > 2, "the status bar shows a text")
            s.click(290, 8)  # "&retrieve"
            for y in range(30, 190, 22):
                s.xdo("mousemove", "--sync", 400, y)
                time.sleep(0.1)
            s.screenshot_png("menu-hover")
            check(status_bar(s.screenshot()) == before, "the status text changed under a menu entry")
            s.key("Escape")
    finally:
        remove(data)


if __name__ == "__main__":
    run([open_every_folder_by_mouse_and_keyboard, sort_by_header_click_and_shift_arrows,
         shift_and_control_clicks_select_in_complement_colours, typing_in_a_huge_folder_opens_find_without_reading_it,
         popup_menus_open_at_the_pointer, the_status_bar_keeps_its_text_under_menu_hints])
