"""The desktop application as a user meets it: the real vistrel on its own X server and session
bus, driven through the tray menu and the accessibility tree (see desktop_session.py)."""

import http.server
import json
import os
import signal
import threading
import time
import unittest

from desktop_session import DesktopSession, wait_for

APP = os.environ["VISTREL_APP"]
SHORTCUT = "Ctrl+Alt+Super+P"

# The entries every menu shares after the capture controls.
COMMON_TAIL = [
    "-", "Search History…", "Timeline", "Delete Recent", "-",
    "Capture Settings…", "Privacy…", "Storage…", "How to Use", "-",
    "Check for Updates…", "More Apps…", "-", "Quit Vistrel",
]


def labels(entries):
    return ["-" if e["separator"] else e["label"] for e in entries if e["visible"]]


def status_and_rest(entries):
    """The text lines above the first separator (status, then any notice), and the rest."""
    shown = labels(entries)
    cut = shown.index("-")
    return shown[:cut], shown[cut:]


def entry(entries, label):
    return next(e for e in entries if e["label"] == label)


# Panes whose screens are built show their title as a header; the others say they are not built.
BUILT_PANES = {"Storage", "How to Use"}


def showing_pane(session, title):
    if title in BUILT_PANES:
        return session.find("label", title)
    return session.find("label", title + " is not built yet.")


class FreshStart(unittest.TestCase):
    def test_tray_shows_capture_off_and_first_launch_opens_capture(self):
        with DesktopSession(APP) as session:
            session.start_app()
            self.assertEqual(wait_for(session.tray_picture, what="a tray picture"), "capture-off")
            self.assertEqual(session.tray_tooltip(), "Vistrel: Capture is off")
            menu = session.tray_menu()
            self.assertEqual(labels(menu), ["Capture is off", "-", "Turn Capture On"] + COMMON_TAIL)
            self.assertFalse(entry(menu, "Capture is off")["enabled"])
            self.assertFalse(entry(menu, "Delete Recent")["enabled"], "no library yet")
            self.assertEqual(entry(menu, "Search History…")["shortcut"], ["Control+F"])
            self.assertEqual(entry(menu, "Quit Vistrel")["shortcut"], ["Control+Q"])

            window = session.find("frame", "Vistrel")
            self.assertTrue(window.showing())
            session.find("label", "Vistrel is off")
            session.find("label", "Capture is off")
            session.find("label", "Nothing new is being saved")
            names = [item.name() for item in session.find("list", "Sections").all("list item")]
            self.assertEqual(names, ["Search", "Timeline", "Capture", "Privacy", "Storage",
                                     "How to Use"])

    def test_keys_close_to_tray_second_start_and_quit(self):
        with DesktopSession(APP) as session:
            app = session.start_app()
            session.find("frame", "Vistrel")
            session.click_tray_entry("Search History…")
            session.find("text", "Search your screen history")
            session.press("ctrl+3")
            session.find("label", "Vistrel is off")
            session.press("F1")
            showing_pane(session, "How to Use")

            session.close_window()
            wait_for(lambda: session.find_none("frame", "Vistrel"), what="the window to hide")
            time.sleep(0.5)
            self.assertIsNone(app.poll(), "closing the window keeps the application")
            self.assertEqual(session.tray_picture(), "capture-off")

            self.assertEqual(session.run_app(), 0, "a second start hands over and ends")
            self.assertTrue(session.find("frame", "Vistrel").showing())
            self.assertIsNone(app.poll())

            session.click_tray_entry("Quit Vistrel")
            self.assertEqual(app.wait(timeout=15), 0)
            self.assertTrue(os.path.exists(os.path.join(session.data_dir, "config.json")),
                            "quitting saves the settings")


class CaptureOn(unittest.TestCase):
    def test_menus_pause_for_and_notice(self):
        config = {"captureEnabled": True, "onboardingDone": True}
        with DesktopSession(APP, config=config) as session:
            session.start_app()
            self.assertEqual(wait_for(lambda: session.tray_picture() == "capture-on" and
                                      "capture-on", what="the recording picture"), "capture-on")
            self.assertTrue(session.find_none("frame", "Vistrel"),
                            "a later launch stays in the tray")
            menu = session.tray_menu()
            self.assertEqual(status_and_rest(menu)[1], ["-", "Pause  " + SHORTCUT, "Pause For",
                                                        "Turn Capture Off"] + COMMON_TAIL)
            self.assertEqual(labels(entry(menu, "Pause For")["children"]),
                             ["15 Minutes", "1 Hour", "Until Tomorrow"])
            self.assertTrue(entry(menu, "Delete Recent")["enabled"])

            session.click_tray_entry("Storage…")
            showing_pane(session, "Storage")
            session.find("label", "Recording")

            session.click_tray_entry("Pause For", "15 Minutes")
            wait_for(lambda: session.tray_picture() == "paused", what="the pause picture")
            self.assertIn("Paused", session.tray_tooltip())
            menu = session.tray_menu()
            status, rest = status_and_rest(menu)
            self.assertTrue(status[0].startswith("Paused until"), status)
            self.assertEqual(rest, ["-", "Resume Capture  " + SHORTCUT, "Turn Capture Off"] +
                             COMMON_TAIL)
            session.find("label", "Paused")

            session.click_tray_entry("Delete Recent", "Last 15 Minutes")
            bar = session.find(None, "Deleted 0 frames.")
            shown_at = time.monotonic()
            self.assertEqual(status_and_rest(session.tray_menu())[0][1], "Deleted 0 frames.")
            wait_for(lambda: session.find_none(None, "Deleted 0 frames."), 15,
                     "the notice to go")
            self.assertGreater(time.monotonic() - shown_at, 7)


class WaylandSession(unittest.TestCase):
    def test_capture_on_needs_permission_and_stores_nothing(self):
        # The screen of a Wayland session cannot be read through its X server: the badge and
        # the tray say so instead of showing the recording state.
        config = {"captureEnabled": True, "onboardingDone": True}
        with DesktopSession(APP, config=config) as session:
            session.start_app(extra_env={"XDG_SESSION_TYPE": "wayland"})
            wait_for(lambda: session.tray_picture() == "warning", what="the warning picture")
            self.assertIn("Wayland sessions are not supported", session.tray_tooltip())
            session.click_tray_entry("Storage…")
            showing_pane(session, "Storage")
            session.find("label", "Needs permission")
            self.assertTrue(session.find_none("label", "Recording"))


class SessionEnd(unittest.TestCase):
    def test_logout_signal_quits_with_the_settings_saved(self):
        # Logging out ends the session's processes with SIGTERM.
        config = {"captureEnabled": True, "onboardingDone": True}
        with DesktopSession(APP, config=config) as session:
            app = session.start_app()
            wait_for(lambda: session.tray_picture() == "capture-on", what="the recording picture")
            session.click_tray_entry("Turn Capture Off")
            wait_for(lambda: session.tray_picture() == "capture-off", what="capture off")
            app.send_signal(signal.SIGTERM)
            self.assertEqual(app.wait(timeout=15), 0)
            with open(os.path.join(session.data_dir, "config.json")) as saved:
                self.assertFalse(json.load(saved)["captureEnabled"])


class WithoutTray(unittest.TestCase):
    def test_window_opens_and_closing_only_minimises(self):
        with DesktopSession(APP, config={"onboardingDone": True}, tray=False) as session:
            app = session.start_app()
            window = session.find("frame", "Vistrel")
            wait_for(lambda: session.x_windows(viewable=True), 30, "the window on screen")
            session.close_window()
            self.assertTrue(window.showing(), "minimised, not hidden")
            self.assertTrue(session.x_windows())
            self.assertIsNone(app.poll())
            self.assertEqual(session.run_app(), 0)
            wait_for(lambda: session.x_windows(viewable=True), 30, "the window back on screen")


class FeedServer(http.server.ThreadingHTTPServer):
    """A release feed whose HEAD answer the test chooses; it counts the probes."""

    def __init__(self):
        self.head_status = 404
        self.heads = 0
        self.release = {"version": "9.0.0", "page": "http://127.0.0.1:9/download"}
        super().__init__(("127.0.0.1", 0), FeedHandler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def url(self):
        return "http://127.0.0.1:%d/release.json" % self.server_address[1]


class FeedHandler(http.server.BaseHTTPRequestHandler):
    def do_HEAD(self):
        self.server.heads += 1
        time.sleep(1)  # long enough for a second click to land during the check
        self.send_response(self.server.head_status)
        self.end_headers()

    def do_GET(self):
        body = json.dumps(self.server.release).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class UpdateCheck(unittest.TestCase):
    def test_three_outcomes_and_one_probe_per_check(self):
        server = FeedServer()
        config = {"onboardingDone": True}
        try:
            with DesktopSession(APP, config=config) as session:
                session.start_app({"VISTREL_UPDATE_FEED_URL": server.url})
                session.tray_item()
                cases = [
                    (404, "You’re up to date",
                     "Vistrel 0.1.0 is the newest version. Vistrel checks for updates on its own"
                     " and will let you know when there’s a new one."),
                    (503, "Couldn’t check for updates",
                     "Check your internet connection and try again. Vistrel also checks on its"
                     " own about once a day."),
                    (405, "A new version of Vistrel is available",
                     "Vistrel 9.0.0 is out; you have 0.1.0."),
                ]
                for status, title, text in cases:
                    with self.subTest(status=status):
                        server.head_status = status
                        before = server.heads
                        session.click_tray_entry("Check for Updates…")
                        session.click_tray_entry("Check for Updates…")
                        session.find("label", text, timeout=20)
                        self.assertEqual(server.heads - before, 1)
                        dialog = session.find(None, title)
                        button = "OK" if status != 405 else "Later"
                        dialog.find("push button", button, True).do_action("Press")
                        wait_for(lambda: session.find_none(None, title), what="the alert to go")
        finally:
            server.shutdown()
            server.server_close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
