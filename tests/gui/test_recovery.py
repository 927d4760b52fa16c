"""A move of 10,000 items cut short by SIGKILL: the next start finishes or
undoes it before any folder is shown, both folders list every item once,
and the status bar says what was recovered."""

import os
import signal
import time

from omailgui import (Session, check, make_folder, new_data_dir, read_count, read_records, remove, run, store_path,
                      wait_for)

ITEMS = 10000


def journal_pending(data):
    path = os.path.join(data, "omail.jnl")
    return os.path.exists(path) and os.path.getsize(path) > 0


def status_text_width(shot):
    """How far the status bar's text reaches, in pixels from the left."""
    dark = [x for x in range(0, 600) for y in range(464, 476) if sum(shot.pixel(x, y)) < 300]
    return max(dark) if dark else 0


def check_every_item_once(data, folders):
    seen = {}
    for folder in folders:
        records = read_records(data, folder)
        check(read_count(data, folder) == len(records), "%s: count %d, %d records" %
              (folder, read_count(data, folder), len(records)))
        for r in records:
            check(os.path.exists(store_path(data, folder, r[0])), "%s holds the file of %s" % (folder, r[0]))
            seen[r[8]] = seen.get(r[8], 0) + 1
    check(len(seen) == ITEMS, "%d distinct items listed, %d expected" % (len(seen), ITEMS))
    check(max(seen.values()) == 1, "an item listed twice")
    return {folder: len(read_records(data, folder)) for folder in folders}


def a_killed_move_is_recovered_on_the_next_start():
    data = new_data_dir("recover", personal=["archive", "work"])
    make_folder(data, "work", ITEMS, "U")
    os.makedirs(os.path.join(data, "archive"), exist_ok=True)
    try:
        with Session(data, "recover") as s:
            s.click_folder(5)  # "work", after in, out, sent, bin, archive
            s.wait_title(r"\(0/%d\)$" % ITEMS, 30)
            ready_width = status_text_width(s.screenshot())
            s.menu("o", 0)  # "&select all"
            s.menu("o", 1)  # "&move selected items to folder"
            picker = wait_for(lambda: s.find_window(r"^move$"), 10, what="the folder picker")
            s.screenshot_png("picker")
            s.focus(picker)
            s.key("Return")  # "archive" is the first entry
            wait_for(lambda: journal_pending(data), 20, 0.002, "the move to start")
            s.app.send_signal(signal.SIGKILL)
            s.app.wait()
            check(journal_pending(data), "the move was still under way when the program died")
            s.start_app()
            s.screenshot_png("restarted")
            check(not journal_pending(data), "the journal was replayed at start")
            check(status_text_width(s.screenshot()) > ready_width + 100, "the status bar reports the recovery")
            counts = check_every_item_once(data, ["work", "archive"])
            # What the window shows is what is on disk.
            s.click_folder(4)
            s.wait_title(r"\(0/%d\)$" % counts["archive"], 30)
            s.click_folder(5)
            s.wait_title(r"\(0/%d\)$" % counts["work"], 30)
            s.screenshot_png("work-after")
    finally:
        remove(data)


if __name__ == "__main__":
    run([a_killed_move_is_recovered_on_the_next_start])
