"""A desktop notification service for tests: owns
org.freedesktop.Notifications on the session bus named by
DBUS_SESSION_BUS_ADDRESS and appends each notification it is sent, as one
JSON line, to the file given as its argument. It writes "ready" to standard
output once it owns the name."""

import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"


class Recorder(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.path = path
        self.last_id = 0

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        with open(self.path, "a") as f:
            f.write(json.dumps({"app_name": str(app_name), "app_icon": str(app_icon), "summary": str(summary),
                                "body": str(body), "hints": {str(k): str(v) for k, v in hints.items()}}) + "\n")
        return self.last_id

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("recorder", "tests", "1", "1.2")

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, number):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    recorder = Recorder(bus, sys.argv[1])
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, recorder


if __name__ == "__main__":
    main()
