#!/usr/bin/python3
"""The desktop application's start-up and idle memory, on the real-user harness's desktop
(Xvfb, openbox, a private session bus with the accessibility bus and a tray watcher).

Prints, over RUNS starts each: the time from starting `vistrel` to its tray icon being
registered with the tray host, for a fresh start (capture off) and a start with capture on; then
the resident memory of the GUI left idle with capture on for IDLE_SECONDS (default 600), with the
accessibility bridge on as in the tests.

    bench/desktop-start.py [IDLE_SECONDS=600] [RUNS=5]

Uses the binary of an existing build (VISTREL_BUILD, default build/)."""

import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support", "desktop"))
from desktop_session import DesktopSession, wait_for  # noqa: E402

APP = os.path.join(os.environ.get("VISTREL_BUILD", os.path.join(ROOT, "build")), "Vistrel",
                   "vistrel")


def registered(session):
    watcher = session.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
    return list(watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                            dbus_interface="org.freedesktop.DBus.Properties"))


def start_to_tray(config):
    with DesktopSession(APP, config=config) as session:
        started = time.monotonic()
        session.start_app()
        wait_for(lambda: registered(session), 30, "the tray icon")
        return time.monotonic() - started


def resident_mb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def main():
    idle = float(sys.argv[1]) if len(sys.argv) > 1 else 600
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    for label, config in [("fresh start", None),
                          ("capture on", {"captureEnabled": True, "onboardingDone": True})]:
        times = [start_to_tray(config) for _ in range(runs)]
        print("start to tray icon registered, %s: median %.3f s, worst %.3f s (%d runs)"
              % (label, statistics.median(times), max(times), runs))

    with DesktopSession(APP, config={"captureEnabled": True, "onboardingDone": True}) as session:
        app = session.start_app()
        wait_for(lambda: session.tray_picture() == "capture-on", 30, "recording")
        peak = 0.0
        deadline = time.monotonic() + idle
        while time.monotonic() < deadline:
            peak = max(peak, resident_mb(app.pid))
            time.sleep(5)
        print("resident memory after %.0f s idle with capture on: %.1f MB (peak %.1f MB)"
              % (idle, resident_mb(app.pid), max(peak, resident_mb(app.pid))))


if __name__ == "__main__":
    main()
