"""The Storage pane, the How to Use footer and the other-apps window as a user meets them: the real
vistrel on its own X server and session bus (see desktop_session.py), with histories made by the
real `vistrel-cli ingest`."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

from desktop_session import DesktopSession, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
APP = os.environ["VISTREL_APP"]
CLI = os.environ["VISTREL_CLI"]
DAY = 86400
SETTLED = {"onboardingDone": True}
KEPT = ("Each frame's image, its text, the window title and the app name are encrypted with "
        "AES-256-GCM. The key is random, made on this computer, and kept ")


def png(path, width, height, block):
    """A light screenshot with one dark block at (x, y, w, h), so each image differs."""
    x0, y0, w, h = block
    rows = []
    for y in range(height):
        row = bytearray(b"\x00")
        for x in range(width):
            dark = x0 <= x < x0 + w and y0 <= y < y0 + h
            row += b"\x20\x30\x60" if dark else b"\xf0\xf0\xf0"
        rows.append(bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(b"".join(rows))))
        f.write(chunk(b"IEND", b""))


def ingest(session, data_dir, at, count, key_file=True):
    """Stores count different frames dated from `at` on, with the real command line."""
    folder = tempfile.mkdtemp(dir=session.root)
    images = []
    for i in range(count):
        images.append(os.path.join(folder, "shot-%d.png" % i))
        png(images[-1], 320, 200, (20 + 60 * i, 30 + 25 * i, 90, 60))
    args = [CLI, "--data-dir", data_dir] + (["--key-file", session.key_file] if key_file else [])
    args += ["--json", "ingest", "--at", str(int(at))] + images
    answer = subprocess.run(args, env=session.app_env(), capture_output=True, text=True,
                            timeout=120)
    outcomes = [json.loads(line)["outcome"] for line in answer.stdout.splitlines()]
    assert outcomes == ["stored"] * count, (outcomes, answer.stderr)


def figure(session, caption):
    return session.find(None, caption).description()


def figures(session):
    return [figure(session, c) for c in ("frames saved", "on disk", "today", "oldest frame")]


def month_day(seconds):
    moment = time.localtime(seconds)
    return time.strftime("%b ", moment) + str(moment.tm_mday)


def history_files(data_dir):
    return sorted(name for name in os.listdir(data_dir) if name.startswith("history") or
                  name == "frames")


def saved_settings(session):
    with open(os.path.join(session.data_dir, "config.json")) as f:
        return json.load(f)


def open_storage(session):
    session.click_tray_entry("Storage…")
    return session.find(None, "Storage")


def delete_everything(session, frames_text):
    session.find("push button", "Delete Everything…").do_action("Press")
    session.find("label", "Delete the whole history?")
    session.find("label", "All %s frames and the encryption key are removed. This can’t be "
                          "undone." % frames_text)
    session.find("push button", "Delete Everything").do_action("Press")
    session.find(None, "Deleted the whole history and its key.", timeout=20)


class EmptyHistory(unittest.TestCase):
    def test_figures_folder_key_file_and_one_more_apps_window(self):
        with DesktopSession(APP, config=SETTLED) as session:
            home = session.env["HOME"]
            cache = os.path.join(home, ".cache", "Vistrel")
            os.makedirs(cache)
            # A cached list checked just now: shown without any request.
            feed = {"schema": 1, "apps": [
                {"id": "vistrel", "name": "Vistrel", "detail": "This one.", "symbol": "camera",
                 "tint": "indigo", "url": "https://tevrin77.com/vistrel"},
                {"id": "notekeeper", "name": "Notekeeper", "detail": "Notes that stay put.",
                 "symbol": "accessories-text-editor", "tint": "orange",
                 "url": "https://flathub.org/apps/com.tevrin77.Notekeeper"}]}
            with open(os.path.join(cache, "more-apps.json"), "w") as f:
                json.dump(feed, f)
            with open(os.path.join(cache, "more-apps.meta.json"), "w") as f:
                json.dump({"checkedAt": time.time() - 978307200}, f)

            session.start_app(data_dir=False)
            open_storage(session)
            self.assertEqual(figures(session), ["0", "0 bytes", "0", "–"])
            session.find("label", "~/.local/share/Vistrel")
            session.find(None, "Show in File Manager")
            session.find("label", KEPT + "in the key file %s (this computer only, never synced, "
                                         "readable only by your user account)." % session.key_file)

            session.click_tray_entry("More Apps…")
            window = session.find("frame", "More Apps")
            row = window.find("push button", "Notekeeper", True)
            self.assertEqual(row.description(), "Notes that stay put. Opens the app on Flathub.")
            self.assertIsNone(window.find("push button", "Vistrel", True), "never itself")
            session.click_tray_entry("More Apps…")
            session.click_tray_entry("How to Use")
            self.assertEqual(session.find(None, "Pause or resume anywhere").description(),
                             "Ctrl+Alt+Super+P")
            session.find("push button", "More Apps…").do_action("Press")
            time.sleep(0.5)
            self.assertEqual(len(session.x_windows("More Apps", viewable=True)), 1)
            self.assertEqual(len(session.x_windows("More Apps")), 1)


class KnownFrames(unittest.TestCase):
    def test_figures_retention_and_delete_everything_with_a_key_file(self):
        with DesktopSession(APP, config=SETTLED) as session:
            now = time.time()
            # "Today" counts from local midnight: just after it, the recent frames go at
            # midnight itself rather than into yesterday.
            midnight = time.mktime(time.localtime(now)[:3] + (0, 0, 0, 0, 0, -1))
            if now - midnight < 10:
                time.sleep(10)
                now = time.time()
            two_days_ago = now - 2 * DAY
            ingest(session, session.data_dir, two_days_ago, 2)
            ingest(session, session.data_dir, max(now - 120, midnight), 3)
            session.start_app()
            open_storage(session)
            shown = wait_for(lambda: figure(session, "frames saved") == "5" and figures(session),
                             what="the figures of five frames")
            self.assertEqual(shown[2:], ["3", month_day(two_days_ago)])
            self.assertRegex(shown[1], r"^[0-9.]+ (kB|MB)$")

            # A combo box reads as its current choice; its label names it.
            picker = session.find("frame", "Limits").all("combo box")[0]
            self.assertEqual(picker.name(), "30 days")
            picker.do_action("Press")  # opens its list, which then takes the keys
            time.sleep(0.5)
            session.xdotool("key", "Home")
            session.xdotool("key", "Return")
            wait_for(lambda: picker.name() == "1 day", what="the choice of one day")
            wait_for(lambda: figure(session, "frames saved") == "3", 20,
                     "the cleanup of frames older than a day")
            self.assertEqual(figure(session, "oldest frame"), month_day(now - 120))
            wait_for(lambda: saved_settings(session).get("retentionDays") == 1, 10,
                     "the choice saved")

            self.assertTrue(os.path.exists(session.key_file))
            delete_everything(session, "3")
            self.assertEqual(figures(session), ["0", "0 bytes", "0", "–"])
            self.assertEqual(history_files(session.data_dir), [])
            self.assertFalse(os.path.exists(session.key_file), "the key file is gone")
            session.click_tray_entry("Search History…")
            session.find("label", "Nothing saved yet")


class KeyFileGone(unittest.TestCase):
    def test_problem_card_file_manager_and_delete_everything_as_the_way_out(self):
        with DesktopSession(APP, config=SETTLED) as session:
            ingest(session, session.data_dir, time.time() - 60, 1)
            os.remove(session.key_file)
            shown = os.path.join(session.root, "shown-items")
            session._spawn([sys.executable, os.path.join(HERE, "file_manager.py"), shown])
            wait_for(lambda: session.bus.name_has_owner("org.freedesktop.FileManager1"), 15,
                     "the file manager")
            session.start_app()
            open_storage(session)
            card = session.find("frame", "The history can’t be opened")
            card.find("label", "Vistrel's key is missing from the key file, so the saved history "
                               "can't be read. Delete the history in Storage to start fresh.", True)
            self.assertEqual(figures(session), ["0", "0 bytes", "0", "–"])

            session.find("push button", "Show in File Manager").do_action("Press")
            wait_for(lambda: os.path.exists(shown), 10, "the file manager asked")
            with open(shown) as f:
                self.assertEqual(f.read().split(), ["file://" + session.data_dir])

            delete_everything(session, "0")
            wait_for(lambda: session.find_none("frame", "The history can’t be opened"), 10,
                     "the problem card to go")
            self.assertEqual(history_files(session.data_dir), [])


class WithKeyring(unittest.TestCase):
    def lookup(self, session):
        return subprocess.run(["secret-tool", "lookup", "service", "com.tevrin77.Vistrel",
                               "account", "history-key"], env=session.app_env(),
                              capture_output=True, timeout=20)

    def test_delete_everything_removes_the_key_from_the_keyring(self):
        with DesktopSession(APP, config=SETTLED) as session:
            session.start_keyring()
            ingest(session, session.data_dir, time.time() - 60, 1, key_file=False)
            self.assertEqual(self.lookup(session).returncode, 0, "the key is in the keyring")
            self.assertFalse(os.path.exists(session.key_file))
            session.start_app(key_file=False)
            open_storage(session)
            wait_for(lambda: figure(session, "frames saved") == "1", what="one frame")
            session.find("label", "Deleting removes the frames, their text and their index "
                                  "entries for good. Delete Everything also deletes the encryption "
                                  "key from the keyring.")
            session.find("label", KEPT + "in your login keyring (this computer only, never synced, "
                                         "readable only while you're logged in and the keyring is "
                                         "unlocked).")
            delete_everything(session, "1")
            self.assertEqual(history_files(session.data_dir), [])
            self.assertNotEqual(self.lookup(session).returncode, 0, "the key is gone")


if __name__ == "__main__":
    unittest.main(verbosity=2)
