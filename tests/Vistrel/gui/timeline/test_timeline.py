"""The Timeline pane as a user meets it: the real vistrel on its own X server and session bus (see
desktop_session.py), on a history whose frames were recorded by the real command line at known
times, read and driven through the accessibility tree and keys pressed on the X server."""

import os
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

import dbus

from desktop_session import DesktopSession, wait_for

APP = os.environ["VISTREL_APP"]
CLI = os.environ["VISTREL_CLI"]

# AT-SPI state bits (atspi-constants.h).
STATE_ENABLED = 8
STATE_SENSITIVE = 24

DAY = 86400


def png(seed, width=320, height=200):
    """A small picture that differs from every other seed, so no frame counts as unchanged."""
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            on = ((x // (4 + seed)) + (y // (3 + seed))) % 2
            row += bytes((200, 40 + 20 * seed, 90) if on else (20, 30, 40 + 25 * seed))
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b""))


def record(session, moments):
    """Records one picture per moment (seconds since 1970) through `vistrel-cli ingest`."""
    folder = tempfile.mkdtemp(dir=session.root)
    env = session.app_env()
    env["TZ"] = "UTC"
    for seed, moment in enumerate(moments):
        path = os.path.join(folder, "%d.png" % seed)
        with open(path, "wb") as f:
            f.write(png(seed))
        answer = subprocess.run([CLI, "--data-dir", session.data_dir, "--key-file",
                                 session.key_file, "ingest", "--app", "Editor", "--at",
                                 str(moment), path], env=env, capture_output=True, text=True,
                                timeout=120)
        if answer.returncode != 0 or "stored as frame" not in answer.stdout:
            raise AssertionError("ingest failed: " + answer.stdout + answer.stderr)


def enabled(node):
    states = node.states()
    return STATE_ENABLED in states and STATE_SENSITIVE in states


def value(node, name):
    return float(node.proxy.Get("org.a11y.atspi.Value", name,
                                dbus_interface="org.freedesktop.DBus.Properties"))


def frame_button(session):
    """The frame area's button, whose name says which frame is current."""
    def found():
        for button in session.application().all("push button"):
            if button.name().startswith("Frame at "):
                return button
        return None
    return wait_for(found, 10, "the frame button")


def wait_for_frame(session, time_text):
    wait_for(lambda: time_text in frame_button(session).name(), 10, "the frame at " + time_text)


def pick_previous_day(session):
    """Opens the date picker's calendar with a click on its arrow, as a user does, and picks the
    day before with the keys (which cross into the previous month where needed)."""
    picker = session.find(None, "Day")
    x, y, width, height = picker.proxy.GetExtents(dbus.UInt32(0),
                                                  dbus_interface="org.a11y.atspi.Component")
    before = set(session.xdotool("search", "--onlyvisible", "--class", "vistrel").split())
    session.xdotool("mousemove", str(int(x + width - 8)), str(int(y + height // 2)), "click", "1")
    wait_for(lambda: set(session.xdotool("search", "--onlyvisible", "--class",
                                         "vistrel").split()) - before, 10, "the calendar")
    session.xdotool("key", "Left")
    session.xdotool("key", "Return")


class TimelinePaneEndToEnd(unittest.TestCase):
    def test_days_strip_keys_and_picker(self):
        today = int(time.time()) // DAY * DAY
        yesterday = today - DAY
        with DesktopSession(APP, config={"onboardingDone": True}) as session:
            record(session, [today, yesterday + 9 * 3600 + 10 * 60, yesterday + 14 * 3600 + 30 * 60,
                             today - 2 * DAY + DAY - 1])
            session.start_app({"TZ": "UTC"})
            session.tray_item()
            session.click_tray_entry("Timeline")

            # Today: its one frame at 00:00:00 counts in hour 0.
            session.find("label", "1 frames")
            session.find("push button", "0:00, 1 frames")
            wait_for_frame(session, "00:00:00")
            slider = session.find("slider", "Scrub through the day")
            self.assertEqual((value(slider, "MinimumValue"), value(slider, "MaximumValue")),
                             (0.0, 1.0))
            self.assertFalse(enabled(session.find("push button", "Next day")))
            self.assertFalse(enabled(session.find("push button", "Today")))
            self.assertTrue(enabled(session.find("push button", "Previous day")))

            # Yesterday, picked in the date picker's calendar, opens on its newest frame.
            pick_previous_day(session)
            session.find("label", "2 frames")
            wait_for_frame(session, "14:30:00")
            self.assertTrue(enabled(session.find("push button", "Next day")))
            self.assertTrue(enabled(session.find("push button", "Today")))

            bars = [bar for bar in session.application().all("push button")
                    if bar.name().endswith(" frames")]
            expected = ["%d:00, %d frames" % (hour, 1 if hour in (9, 14) else 0)
                        for hour in range(24)]
            self.assertEqual([bar.name() for bar in bars], expected)
            # 24 columns side by side in one 42 px band, 3 px apart (the painted heights inside
            # them are checked by the widget tests).
            extents = [[int(v) for v in bar.proxy.GetExtents(
                dbus.UInt32(0), dbus_interface="org.a11y.atspi.Component")] for bar in bars]
            self.assertEqual({(y, height) for _, y, _, height in extents},
                             {(extents[0][1], 42)})
            self.assertEqual({extents[i + 1][0] - (extents[i][0] + extents[i][2])
                              for i in range(23)}, {3})

            # The keys scrub once the focus has left the date picker, which uses them itself.
            frame_button(session).proxy.GrabFocus(dbus_interface="org.a11y.atspi.Component")
            # Home goes to the first frame; the 12:00 bar lands on 14:30; 15:00 has nothing later.
            session.press("Home")
            wait_for_frame(session, "09:10:00")
            session.find("push button", "12:00, 0 frames").do_action("Press")
            wait_for_frame(session, "14:30:00")
            session.press("Home")
            wait_for_frame(session, "09:10:00")
            session.find("push button", "15:00, 0 frames").do_action("Press")
            time.sleep(0.5)
            wait_for_frame(session, "09:10:00")

            # Right on the last frame stays there.
            session.press("End")
            wait_for_frame(session, "14:30:00")
            session.press("Right Right Right")
            time.sleep(0.5)
            wait_for_frame(session, "14:30:00")
            self.assertEqual(value(session.find("slider", "Scrub through the day"),
                                   "CurrentValue"), 1.0)
            session.press("Left")
            wait_for_frame(session, "09:10:00")

            # Page Up: the day before, whose frame at 23:59:59 counts in hour 23.
            session.press("Prior")
            session.find("push button", "23:00, 1 frames")
            wait_for_frame(session, "23:59:59")

            # The copy button works on the loaded frame.
            wait_for(lambda: enabled(session.find("push button", "Copy Text")), 10,
                     "the summary to load")
            session.find("push button", "Copy Text").do_action("Press")
            wait_for(lambda: session.application().find(
                None, "Copied the text of this frame (0 lines).", True), 10, "the copy notice")

            session.find("push button", "Today").do_action("Press")
            session.find("push button", "0:00, 1 frames")
            wait_for_frame(session, "00:00:00")

    def test_empty_history(self):
        with DesktopSession(APP, config={"onboardingDone": True}) as session:
            session.start_app({"TZ": "UTC"})
            session.tray_item()
            session.click_tray_entry("Timeline")
            session.find("label", "No frames on this day")
            session.find("label", "Turn capture on in Capture; frames show up here as you work.")
            session.find("label", "0 frames")


if __name__ == "__main__":
    unittest.main(verbosity=2)
