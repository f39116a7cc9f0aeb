"""The Search pane and the frame sheet as a user meets them: the real vistrel on its own X server
and session bus (see desktop_session.py), on libraries of known frames. One screen is read by the
real `vistrel-cli ingest` (Tesseract); the other frames are stored straight into the library by
SearchTestFrames, so that a thousand of them take seconds."""

import os
import re
import subprocess
import tempfile
import time
import unittest

from desktop_session import DesktopSession, wait_for

APP = os.environ["VISTREL_APP"]
CLI = os.environ["VISTREL_CLI"]
FRAMES = os.environ["SEARCH_TEST_FRAMES"]
CONFIG = {"onboardingDone": True}

STATE_FOCUSED = 12
STATE_SELECTED = 23


def screen(folder, name, lines):
    """A screen with these lines of text, drawn by ImageMagick."""
    path = os.path.join(folder, name)
    command = ["convert", "-size", "900x%d" % (60 + 60 * len(lines)), "xc:white", "-font",
               "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "-pointsize", "26", "-fill",
               "#202020"]
    for i, line in enumerate(lines):
        command += ["-annotate", "+30+%d" % (60 + 60 * i), line]
    subprocess.run(command + [path], check=True)
    return path


def store_frames(session, key_file, app, count, first, *lines):
    subprocess.run([FRAMES, session.data_dir, key_file, app, "", str(count), str(first), *lines],
                   check=True, stdout=subprocess.DEVNULL)


def type_text(session, text):
    window = session.xdotool("search", "--sync", "--onlyvisible", "--name", "^Vistrel$").split()[0]
    session.xdotool("windowactivate", "--sync", window)
    session.xdotool("type", "--delay", "25", text)


def summary(session, text, timeout=15):
    return session.find("label", text, timeout=timeout)


def search_again(session, query, expected):
    """Searches for a query whose summary may already show: through one that matches nothing,
    so that the grid is the new search's once the summary reads `expected`."""
    session.press("ctrl+f")
    type_text(session, "zzzz")
    summary(session, "No frames match")
    session.press("ctrl+f")
    type_text(session, query)
    summary(session, expected)


def cards(session):
    grid = session.find("list", "Results")
    return [item.name() for item in grid.all("list item", showing=False)]


def pane_selected(session, title):
    item = session.find("list", "Sections").find("list item", title, True)
    return item is not None and STATE_SELECTED in item.states()


class SearchPaneEndToEnd(unittest.TestCase):
    def test_search_summaries_filter_sheet_copy_and_delete(self):
        with DesktopSession(APP, config=CONFIG) as session, \
                tempfile.TemporaryDirectory() as images:
            now = int(time.time())
            invoice = screen(images, "invoice.png", ["Invoice #4471 from Northwind Traders",
                                                     "Payment due on Friday"])
            subprocess.run([CLI, "--data-dir", session.data_dir, "--key-file", session.key_file,
                            "ingest", "--app", "Editor", "--at", str(now - 60), invoice],
                           check=True, stdout=subprocess.DEVNULL, env=session.env)
            # 1 + 149 + 200 + 650 = 1,000 frames, all older than the invoice.
            store_frames(session, session.key_file, "Kestrel Notes", 149, now - 7200,
                         "kestrel report {i}", "written by the owl team")
            store_frames(session, session.key_file, "Osprey", 200, now - 6000, "osprey log {i}")
            store_frames(session, session.key_file, "Filler", 650, now - 5000, "filler page {i}")

            session.start_app()
            session.click_tray_entry("Search History…")
            field = session.find("text", "Search your screen history")
            wait_for(lambda: STATE_FOCUSED in field.states(), what="the field to take the focus")
            summary(session, "The latest 150 frames · 1,000 saved")
            session.find("label", "Tip: put words in quotes to match a phrase.")
            self.assertEqual(len(cards(session)), 150)

            type_text(session, "invo 4471")
            summary(session, "1 frame match")
            [card] = cards(session)
            self.assertRegex(card, r"^Editor, \d{1,2}:\d\d(\s?[AP]M)?: Invoice #4471 from "
                                   r"Northwind Traders · Payment due on Friday$")

            for query, expected in [("kestrel", "149 frames match"), ("osprey", "150+ frames match"),
                                    ("owl team", "149 frames match")]:
                with self.subTest(query=query):
                    session.press("ctrl+f")
                    type_text(session, query)
                    summary(session, expected)

            session.find("push button", "Clear search").do_action("Press")
            summary(session, "The latest 150 frames · 1,000 saved")

            # The App picker (a combo box is named by its entry, and labelled "App"): typing a
            # name's first letter selects it, Home goes back to the first entry, All apps.
            session.press("ctrl+f")
            session.press("Tab")
            picker = session.find("combo box", "All apps")
            wait_for(lambda: STATE_FOCUSED in picker.states(), what="Tab to reach the App picker")
            session.press("k")
            summary(session, "The latest 149 frames · 1,000 saved")
            self.assertTrue(all(name.startswith("Kestrel Notes, ") for name in cards(session)))
            session.press("Home")
            summary(session, "The latest 150 frames · 1,000 saved")
            self.assertTrue(any(name.startswith("Editor, ") for name in cards(session)))

            # Keyboard only: Ctrl+F, the query, Tab to the grid past both pickers, Return.
            session.press("ctrl+f")
            type_text(session, "invo 4471")
            summary(session, "1 frame match")
            for key in ["Tab", "Tab", "Tab", "Return"]:
                session.press(key)
            sheet = session.find("dialog", "Frame")
            session.find("label", "Text on this frame")
            session.find("label", "Invoice #4471 from Northwind Traders")
            session.find("push button", "Copy Image").do_action("Press")
            session.find(None, "Copied the frame as an image.")
            session.find("push button", "Copy All Text").do_action("Press")
            session.find(None, "Copied the text of this frame (2 lines).")
            session.press("Escape", "Frame")
            wait_for(lambda: session.find_none("dialog", "Frame"), what="Escape to close the sheet")
            self.assertIsNone(session.application().find("dialog", "Frame", False))
            del sheet

            # What was copied, pasted back into the field.
            session.press("ctrl+f")
            session.press("ctrl+v")
            pasted = wait_for(lambda: "Payment" in field.text() and field.text(),
                              what="the pasted text")
            self.assertIn("Invoice #4471 from Northwind Traders", pasted)
            self.assertIn("Payment due on Friday", pasted)

            # Show in Timeline closes the sheet on the Timeline pane, at that frame's moment (not
            # the day's newest frame); Ctrl+F comes back from there.
            search_again(session, "kestrel report 148", "1 frame match")
            for key in ["Tab", "Tab", "Tab", "Return"]:
                session.press(key)
            session.find("push button", "Show in Timeline").do_action("Press")
            wait_for(lambda: session.find_none("dialog", "Frame"), what="the sheet to close")
            wait_for(lambda: pane_selected(session, "Timeline"), what="the Timeline pane")
            moment = time.strftime("%H:%M:%S", time.localtime(now - 7200 + 148))
            wait_for(lambda: any(button.name() == "Frame at " + moment
                                 for button in session.application().all("push button")),
                     what="the timeline at the frame's moment " + moment)

            session.press("ctrl+f")
            wait_for(lambda: pane_selected(session, "Search"), what="Ctrl+F to show Search")
            search_again(session, "invo 4471", "1 frame match")
            for key in ["Tab", "Tab", "Tab", "Return"]:
                session.press(key)
            session.find("push button", "Delete Frame…").do_action("Press")
            confirmation = session.find(None, "Delete this frame?")
            session.find("label", "Its image and text are removed from the history for good.")
            confirmation.find("push button", "Delete Frame", True).do_action("Press")
            wait_for(lambda: session.find_none("dialog", "Frame"), what="the sheet to close")
            session.find(None, "Deleted the frame.")
            session.find("label", "No frames match")

    def test_no_library_and_a_history_that_cannot_be_opened(self):
        with DesktopSession(APP, config=CONFIG) as session:
            session.start_app()
            session.click_tray_entry("Search History…")
            summary(session, "No history yet")
            session.find("label", "Nothing saved yet")
            session.find("push button", "Set Up Capture").do_action("Press")
            wait_for(lambda: pane_selected(session, "Capture"), what="the Capture pane")
            self.assertTrue(session.find_none("text", "Search your screen history"))

        with DesktopSession(APP, config=CONFIG) as session:
            other_key = os.path.join(session.root, "keys", "other-key")
            store_frames(session, other_key, "Editor", 1, int(time.time()) - 60, "locked away")
            session.start_app()
            session.click_tray_entry("Search History…")
            session.find("label", "The history can't be opened")
            session.find("push button", "Open Storage").do_action("Press")
            wait_for(lambda: pane_selected(session, "Storage"), what="the Storage pane")


if __name__ == "__main__":
    unittest.main(verbosity=2)
