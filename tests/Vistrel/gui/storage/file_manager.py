#!/usr/bin/env python3
"""A stand-in desktop file manager for the tests: owns org.freedesktop.FileManager1 on the session
bus and writes each ShowItems request's addresses, one a line, to the file named by argv[1]."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.FileManager1"


class FileManager(dbus.service.Object):
    def __init__(self, bus, record):
        super().__init__(bus, "/org/freedesktop/FileManager1")
        self.record = record

    @dbus.service.method(NAME, in_signature="ass", out_signature="")
    def ShowItems(self, uris, startup_id):
        with open(self.record, "a") as f:
            for uri in uris:
                f.write(str(uri) + "\n")


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    manager = FileManager(bus, sys.argv[1])
    name = dbus.service.BusName(NAME, bus)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
