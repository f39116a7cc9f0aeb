"""The Capture and Privacy panes as a user meets them: the real vistrel on its own X server and
session bus (see desktop_session.py), its controls reached through the accessibility tree, keys
pressed on the X server and other X clients started beside it."""

import json
import os
import subprocess
import sys
import time
import unittest

import dbus

from desktop_session import DesktopSession, wait_for

APP = os.environ["VISTREL_APP"]
AUTOSTART = os.path.join(".config", "autostart", "com.tevrin77.Vistrel.desktop")

# An X client that holds one key combination on the root window, as another application's global
# shortcut would, until it is ended.
KEY_HOLDER = r"""
import ctypes, sys, time
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XStringToKeysym.restype = ctypes.c_ulong
x.XStringToKeysym.argtypes = [ctypes.c_char_p]
x.XKeysymToKeycode.restype = ctypes.c_ubyte
x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XGrabKey.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint, ctypes.c_ulong,
                       ctypes.c_int, ctypes.c_int, ctypes.c_int]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
display = x.XOpenDisplay(None)
keycode = x.XKeysymToKeycode(display, x.XStringToKeysym(sys.argv[1].encode()))
CONTROL, ALT, SUPER = 4, 8, 64
x.XGrabKey(display, keycode, CONTROL | ALT | SUPER, x.XDefaultRootWindow(display), 1, 1, 1)
x.XSync(display, 0)
print("held", flush=True)
time.sleep(3600)
"""


def read_config(session):
    with open(os.path.join(session.data_dir, "config.json")) as f:
        return json.load(f)


def config_says(session, check):
    try:
        return check(read_config(session))
    except (OSError, ValueError):
        return False


def press(node):
    node.do_action("Press")


def toggle(node):
    names = [str(a[0]) for a in node.proxy.GetActions(dbus_interface="org.a11y.atspi.Action")]
    node.do_action("Toggle" if "Toggle" in names else names[0])


def checked(node):
    STATE_CHECKED = 4
    return STATE_CHECKED in node.states()


def set_text(node, text):
    node.proxy.SetTextContents(text, dbus_interface="org.a11y.atspi.EditableText")


def focus(node):
    node.proxy.GrabFocus(dbus_interface="org.a11y.atspi.Component")


def open_pane(session, entry, role, name):
    """Opens a pane from the tray and answers the accessible that shows it. A click that lands
    while the menu is being rebuilt (the status line changes often just after a start) misses,
    and the user clicks again."""
    for _ in range(3):
        session.click_tray_entry(entry)
        try:
            return session.find(role, name, timeout=10)
        except AssertionError:
            continue
    raise AssertionError("%s did not show %r" % (entry, name))


def quit_app(session, app):
    """Quits from the tray and waits until the tray has forgotten the icon, so that the next
    start's icon is the only one."""
    session.click_tray_entry("Quit Vistrel")
    app.wait(timeout=15)
    watcher = session.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
    wait_for(lambda: not watcher.Get("org.kde.StatusNotifierWatcher",
                                     "RegisteredStatusNotifierItems",
                                     dbus_interface="org.freedesktop.DBus.Properties"),
             what="the tray to forget the icon")


class CaptureTest(unittest.TestCase):
    def test_first_run_turning_on_pausing_and_open_at_login(self):
        with DesktopSession(APP) as session:
            session.start_app()
            session.find("label", "Vistrel is off", timeout=30)
            session.find("push button", "Not Now")
            switch = session.find("check box", "Save what's on my screen")
            self.assertFalse(checked(switch))

            toggle(switch)
            session.find("label", "Vistrel is recording")
            wait_for(lambda: session.tray_picture() == "capture-on", what="the recording picture")
            wait_for(lambda: config_says(session, lambda c: c.get("captureEnabled") is True), 5,
                     "captureEnabled saved")
            self.assertTrue(session.find_none("push button", "Not Now"),
                            "turning capture on ends the first run")
            # The switch's status line is the one the tray shows.
            wait_for(lambda: not session.find_none("label", session.tray_menu()[0]["label"]),
                     what="the status line under the switch")

            press(session.find("push button", "Pause for 15 Minutes"))
            session.find("label", "Vistrel is paused")
            resume = session.find("push button", "Resume")
            self.assertTrue(session.find_none("push button", "Pause for an Hour"))
            wait_for(lambda: session.tray_picture() == "paused", what="the pause picture")
            press(resume)
            session.find("label", "Vistrel is recording")
            session.find("push button", "Pause Until Resumed")

            autostart = os.path.join(session.env["HOME"], AUTOSTART)
            login = session.find("check box", "Open at Login")
            self.assertFalse(checked(login))
            toggle(login)
            wait_for(lambda: os.path.exists(autostart), what="the autostart entry")
            self.assertTrue(checked(login))
            with open(autostart, encoding="utf-8") as entry:
                self.assertIn("Exec=%s\n" % os.path.realpath(APP), entry.read(),
                              "the entry starts this very program")
            # Removed behind the application's back: the switch reads the desktop when shown.
            os.remove(autostart)
            open_pane(session, "Privacy…", "label", "Privacy")
            login = open_pane(session, "Capture Settings…", "check box", "Open at Login")
            wait_for(lambda: not checked(login), what="the switch to read the removal")
            toggle(login)
            wait_for(lambda: os.path.exists(autostart), what="the autostart entry again")
            toggle(login)
            wait_for(lambda: not os.path.exists(autostart), what="the entry to go")

    def test_interval_label_shows_the_clamped_whole_value(self):
        with DesktopSession(APP, config={"onboardingDone": True, "interval": 1.5}) as session:
            app = session.start_app()
            open_pane(session, "Capture Settings…", "label", "2 seconds")
            self.assertTrue(session.find_none("push button", "Not Now"))
            quit_app(session, app)
            config = read_config(session)
            self.assertEqual(config["interval"], 1.5, "showing the value does not change it")

            config["interval"] = 45
            with open(os.path.join(session.data_dir, "config.json"), "w") as f:
                json.dump(config, f)
            session.start_app()
            open_pane(session, "Capture Settings…", "label", "45 seconds")


class ShortcutTest(unittest.TestCase):
    def test_recording_a_new_shortcut_refusal_and_cancel(self):
        config = {"onboardingDone": True, "captureEnabled": True}
        with DesktopSession(APP, config=config) as session:
            app = session.start_app()
            wait_for(lambda: session.tray_picture() == "capture-on", 15, "the recording picture")
            recorder = open_pane(session, "Capture Settings…", "push button",
                                 "Shortcut: Control Alt Super P")

            press(recorder)
            session.find("push button", "Recording a shortcut. Press keys now, Escape to cancel.")
            session.press("shift+k")
            session.find("label", "Add Ctrl, Alt or Super")
            session.find("push button", "Recording a shortcut. Press keys now, Escape to cancel.")
            session.press("ctrl+alt+super+k")
            session.find("push button", "Shortcut: Control Alt Super K")
            wait_for(lambda: config_says(session, lambda c: c["pauseShortcut"] ==
                                         {"keyCode": 40, "modifiers": 14}), 5,
                     "the new shortcut saved")
            session.find("push button", "Use Ctrl+Alt+Super+P")

            session.xdotool("key", "--clearmodifiers", "ctrl+alt+super+p")
            time.sleep(1)
            self.assertEqual(session.tray_picture(), "capture-on", "the old shortcut is let go")
            session.xdotool("key", "--clearmodifiers", "ctrl+alt+super+k")
            wait_for(lambda: session.tray_picture() == "paused", what="the new shortcut to pause")
            session.xdotool("key", "--clearmodifiers", "ctrl+alt+super+k")
            wait_for(lambda: session.tray_picture() == "capture-on", what="it to resume")

            # Escape alone cancels and keeps the shortcut.
            press(session.find("push button", "Shortcut: Control Alt Super K"))
            session.find("push button", "Recording a shortcut. Press keys now, Escape to cancel.")
            session.press("Escape")
            session.find("push button", "Shortcut: Control Alt Super K")

            # Another client holds Ctrl+Alt+Super+J before Vistrel starts with it.
            quit_app(session, app)
            config = read_config(session)
            config["pauseShortcut"] = {"keyCode": 38, "modifiers": 14}
            with open(os.path.join(session.data_dir, "config.json"), "w") as f:
                json.dump(config, f)
            holder = subprocess.Popen([sys.executable, "-c", KEY_HOLDER, "j"], env=session.env,
                                      stdout=subprocess.PIPE)
            try:
                self.assertEqual(holder.stdout.readline().strip(), b"held")
                session.start_app()
                open_pane(session, "Capture Settings…", "push button",
                          "Shortcut: Control Alt Super J")
                refusal = ("Another app already uses Ctrl+Alt+Super+J. Pick a different "
                           "shortcut.")
                session.find("label", refusal)
                press(session.find("push button", "Use Ctrl+Alt+Super+P"))
                session.find("push button", "Shortcut: Control Alt Super P")
                wait_for(lambda: session.find_none("label", refusal), what="the warning to go")
            finally:
                holder.kill()
                holder.wait()
                holder.stdout.close()


class PrivacyTest(unittest.TestCase):
    def test_title_words_and_app_lists(self):
        with DesktopSession(APP, config={"onboardingDone": True}) as session:
            app = session.start_app()
            field = open_pane(session, "Privacy…", "text", "Add a word or phrase")
            session.find("push button", "Remove banking")

            focus(field)
            set_text(field, "  Banking ")
            session.press("Return")
            time.sleep(0.5)
            self.assertEqual(field.text(), "  Banking ", "a word already listed leaves the text")
            self.assertIsNone(session.application().find("push button", "Remove Banking", True))

            set_text(field, "Medical Records")
            focus(field)
            session.press("Return")
            session.find("push button", "Remove Medical Records")
            wait_for(lambda: field.text() == "", what="the field to clear")
            wait_for(lambda: config_says(session, lambda c: "Medical Records" in
                                         c["excludedTitleWords"]), 5, "the word saved")

            press(session.find("push button", "Stop excluding Messages"))
            wait_for(lambda: session.find_none("push button", "Stop excluding Messages"),
                     what="the row to go")
            quit_app(session, app)
            self.assertNotIn("com.apple.MobileSMS",
                             [a["bundleID"] for a in read_config(session)["excludedApps"]])

            session.start_app()
            open_pane(session, "Privacy…", "push button", "Remove Medical Records")
            titles = session.find(None, "Window titles")
            press(titles.find("push button", "Restore Defaults", True))
            wait_for(lambda: session.find_none("push button", "Remove Medical Records"),
                     what="the defaults back")
            session.find("push button", "Remove banking")

            apps = session.find(None, "Apps never recorded")
            press(apps.find("push button", "Restore Defaults", True))
            session.find("push button", "Stop excluding Messages")

    def test_a_running_app_can_be_excluded_and_is_then_not_recorded(self):
        config = {"onboardingDone": True, "captureEnabled": True, "interval": 2}
        with DesktopSession(APP, config=config) as session:
            applications = os.path.join(session.env["XDG_DATA_HOME"], "applications")
            os.makedirs(applications)
            with open(os.path.join(applications, "org.example.FieldNotes.desktop"), "w") as f:
                f.write("[Desktop Entry]\nType=Application\nName=Field Notes\n"
                        "Exec=xmessage notes\nStartupWMClass=fieldnotes\n")
            with open(os.path.join(applications, "org.example.GardenPlanner.desktop"), "w") as f:
                f.write("[Desktop Entry]\nType=Application\nName=Garden Planner\nExec=true\n")
            notes = subprocess.Popen(["xmessage", "-name", "fieldnotes", "-title", "Notes",
                                      "Plain notes here"], env=session.env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                wait_for(lambda: session.x_windows("Notes", viewable=True), 15, "the notes window")
                session.start_app()
                open_pane(session, "Privacy…", "push button", "Add a Running App")
                # The menu is a popup, which the accessibility tree does not list: the keys
                # choose its first entry, and the application it names is the only other one
                # running.
                def shown():
                    return session.xdotool("search", "--onlyvisible", "--class", "vistrel").split()

                # Keys go to the application in front; the notes window came up first.
                session.xdotool("windowactivate", "--sync", session.x_windows(viewable=True)[0])
                before = len(shown())
                press(session.find("push button", "Add a Running App"))
                wait_for(lambda: len(shown()) > before, what="the menu")
                session.xdotool("key", "Down", "Return")
                session.find("label", "org.example.FieldNotes")
                session.find("push button", "Stop excluding Field Notes")
                wait_for(lambda: config_says(session, lambda c: "org.example.FieldNotes" in
                                             [a["bundleID"] for a in c["excludedApps"]]), 5,
                         "the exclusion saved")

                # An installed application that is not running comes from the chooser.
                press(session.find("push button", "Choose App…"))
                chooser = session.find("dialog", "Choose App")
                listed = chooser.find("list", "Applications", True)
                names = [item.name() for item in listed.all("list item")]
                self.assertIn("Garden Planner", names)
                # Typing the start of a name picks it, as in any list.
                session.press("g", "Choose App")
                session.xdotool("key", "a", "r", "d", "e", "n")
                press(chooser.find("push button", "Exclude", True))
                session.find("push button", "Stop excluding Garden Planner")
                session.find("label", "org.example.GardenPlanner")

                window = session.x_windows("Notes", viewable=True)[0]
                session.xdotool("windowactivate", "--sync", window)
                wait_for(lambda: session.tray_menu()[0]["label"] ==
                         "Skipped: Field Notes is excluded", 15, "the tick to skip the window")
            finally:
                notes.kill()
                notes.wait()


if __name__ == "__main__":
    unittest.main(verbosity=2)
