#!/usr/bin/python3
"""pelora-file-manager-standin: the desktop's file manager as the session bus offers it.

Owns org.freedesktop.FileManager1 on the session bus, answers its three methods at
/org/freedesktop/FileManager1 and appends each call to --calls as one JSON line
{"method": ..., "uris": [...], "startup_id": ...}. Writes --ready once the name is owned;
exits with status 1 when the name is taken by someone else. Stops on SIGTERM or SIGINT.
"""
import argparse
import json
import os
import signal
import sys

from gi.repository import Gio, GLib

INTERFACE = "org.freedesktop.FileManager1"
PATH = "/org/freedesktop/FileManager1"
XML = """
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders"><arg type="as" name="URIs" direction="in"/><arg type="s" name="StartupId" direction="in"/></method>
    <method name="ShowItems"><arg type="as" name="URIs" direction="in"/><arg type="s" name="StartupId" direction="in"/></method>
    <method name="ShowItemProperties"><arg type="as" name="URIs" direction="in"/><arg type="s" name="StartupId" direction="in"/></method>
  </interface>
</node>
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", required=True)
    parser.add_argument("--ready", required=True)
    args = parser.parse_args()
    loop = GLib.MainLoop()
    node = Gio.DBusNodeInfo.new_for_xml(XML)

    def on_call(connection, sender, path, interface, method, parameters, invocation):
        uris, startup_id = parameters.unpack()
        with open(args.calls, "a", encoding="utf-8") as calls:
            calls.write(json.dumps({"method": method, "uris": uris, "startup_id": startup_id}) + "\n")
        invocation.return_value(None)

    def on_bus(connection, name):
        connection.register_object(PATH, node.interfaces[0], on_call, None, None)

    def on_name(connection, name):
        partial = args.ready + ".part"
        with open(partial, "w", encoding="utf-8") as ready:
            ready.write(str(os.getpid()))
        os.rename(partial, args.ready)

    def on_lost(connection, name):
        sys.exit(1)

    Gio.bus_own_name(Gio.BusType.SESSION, INTERFACE, Gio.BusNameOwnerFlags.DO_NOT_QUEUE, on_bus, on_name, on_lost)
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
