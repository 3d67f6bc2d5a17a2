#!/usr/bin/env python3
"""A StatusNotifier watcher and host of our own for tests, on the session bus of the caller (a
private one from dbus-run-session): what KDE Plasma or GNOME's AppIndicator extension are to a
tray program, reduced to what a test needs. It owns org.kde.StatusNotifierWatcher, says that a
host is registered (Qt looks for that before it exports its icon as a StatusNotifierItem),
records the items that register and forgets those whose owner leaves the bus; as the host it
reads an item's menu through com.canonical.dbusmenu and clicks its entries.

Needs Python with GObject introspection (Debian: python3-gi). Commands come one a line on stdin;
each gets one JSON line on stdout, in order:
  wait-item           once an item is registered: {"service", "path", "menu"} (the menu's path)
  items               {"items": ["service/path", ...]} registered now
  layout              the menu as GetLayout(0, -1, []) gives it, with no AboutToShow before:
                      {"revision": N, "items": [{"id", "label", "enabled", "type", "properties"}]}
  about-to-show       AboutToShow(0), as a host calls it before it opens the menu:
                      {"update_needed": bool}
  click ID            Event(ID, "clicked", 0, 0): {"ok": true}
A failed call answers {"error": "..."}. The first line printed is {"ready": true}, once the
watcher's name is ours. The host ends at the end of stdin."""
import json
import os
import sys

sys.dont_write_bytecode = True
import gi  # noqa: E402

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER_NAME = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM_INTERFACE = "org.kde.StatusNotifierItem"
MENU_INTERFACE = "com.canonical.dbusmenu"
CALL_TIMEOUT_MS = 20000  # generous: the program may be busy with the reader for seconds

WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


def answer(value):
    sys.stdout.write(json.dumps(value, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def plain(value):
    """A GLib.Variant's unpacked value made JSON-friendly (bytes as lists)."""
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    if isinstance(value, bytes):
        return list(value)
    return value


class Host:
    def __init__(self, bus, loop):
        self.bus, self.loop = bus, loop
        self.items = []  # (service, path), in the order they registered
        self.item_waiters = []
        self.buffer = b""
        node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
        bus.register_object(WATCHER_PATH, node.interfaces[0], self.method_call,
                            self.get_property, None)
        bus.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                             "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE,
                             self.name_owner_changed)

    # --- the watcher ---------------------------------------------------------------------

    def method_call(self, bus, sender, path, interface, method, parameters, invocation):
        if method == "RegisterStatusNotifierItem":
            (name,) = parameters.unpack()
            # An item names its bus name, or only its object path (then the caller is the name).
            service, item_path = (sender, name) if name.startswith("/") else (name, "/StatusNotifierItem")
            if (service, item_path) not in self.items:
                self.items.append((service, item_path))
                self.emit("StatusNotifierItemRegistered", GLib.Variant("(s)", (service + item_path,)))
            invocation.return_value(None)
            self.serve_item_waiters()
        elif method == "RegisterStatusNotifierHost":
            invocation.return_value(None)
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    def get_property(self, bus, sender, path, interface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", [s + p for s, p in self.items])
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", True)
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        return None

    def emit(self, signal, parameters):
        self.bus.emit_signal(None, WATCHER_PATH, WATCHER_NAME, signal, parameters)

    def name_owner_changed(self, bus, sender, path, interface, signal, parameters):
        name, _old, new = parameters.unpack()
        if new:
            return
        for service, item_path in [i for i in self.items if i[0] == name]:
            self.items.remove((service, item_path))
            self.emit("StatusNotifierItemUnregistered", GLib.Variant("(s)", (service + item_path,)))

    # --- the host's commands ---------------------------------------------------------------

    def serve_item_waiters(self):
        if not self.items:
            return
        waiters, self.item_waiters = self.item_waiters, []
        service, path = self.items[0]
        for done in waiters:
            self.call(service, path, "org.freedesktop.DBus.Properties", "Get",
                      GLib.Variant("(ss)", (ITEM_INTERFACE, "Menu")),
                      lambda result, s=service, p=path, d=done: d(
                          {"service": s, "path": p, "menu": result[0]}))

    def call(self, service, path, interface, method, parameters, done):
        def finished(bus, result):
            try:
                done(bus.call_finish(result).unpack())
            except GLib.Error as e:
                answer({"error": e.message})

        self.bus.call(service, path, interface, method, parameters, None,
                      Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None, finished)

    def menu_call(self, method, parameters, done):
        if not self.items:
            answer({"error": "no item registered"})
            return
        service, path = self.items[0]

        def with_menu(result):
            self.call(service, result[0], MENU_INTERFACE, method, parameters, done)

        self.call(service, path, "org.freedesktop.DBus.Properties", "Get",
                  GLib.Variant("(ss)", (ITEM_INTERFACE, "Menu")), with_menu)

    @staticmethod
    def layout_answer(result):
        revision, (root_id, root_props, children) = result
        items = []
        for child in children:
            item_id, props, _grandchildren = child
            props = plain(props)
            items.append({"id": item_id, "label": props.get("label", ""),
                          "enabled": props.get("enabled", True),
                          "visible": props.get("visible", True),
                          "type": props.get("type", "standard"), "properties": props})
        return {"revision": revision, "root": root_id, "items": items}

    def command(self, line):
        words = line.split()
        if not words:
            return
        if words[0] == "wait-item":
            self.item_waiters.append(answer)
            self.serve_item_waiters()
        elif words[0] == "items":
            answer({"items": [s + p for s, p in self.items]})
        elif words[0] == "layout":
            self.menu_call("GetLayout", GLib.Variant("(iias)", (0, -1, [])),
                           lambda r: answer(self.layout_answer(r)))
        elif words[0] == "about-to-show":
            self.menu_call("AboutToShow", GLib.Variant("(i)", (0,)),
                           lambda r: answer({"update_needed": r[0]}))
        elif words[0] == "click" and len(words) == 2 and words[1].lstrip("-").isdigit():
            data = GLib.Variant("(isvu)", (int(words[1]), "clicked", GLib.Variant("i", 0), 0))
            self.menu_call("Event", data, lambda r: answer({"ok": True}))
        else:
            answer({"error": "unknown command: " + line})

    def stdin_ready(self, fd, condition):
        chunk = os.read(fd, 4096) if condition & GLib.IO_IN else b""
        if not chunk:
            self.loop.quit()
            return False
        self.buffer += chunk
        while b"\n" in self.buffer:
            line, self.buffer = self.buffer.split(b"\n", 1)
            self.command(line.decode("utf-8", "replace").strip())
        return True


def own(bus, name):
    reply = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "RequestName", GLib.Variant("(su)", (name, 4)),  # do not queue
                          GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
    return reply.unpack()[0] == 1  # the primary owner


def main():
    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    except GLib.Error as e:
        print("sni_host: no session bus: " + e.message, file=sys.stderr)
        return 1
    loop = GLib.MainLoop()
    host = Host(bus, loop)
    if not own(bus, WATCHER_NAME) or not own(bus, "org.kde.StatusNotifierHost-%d" % os.getpid()):
        print("sni_host: another StatusNotifier watcher owns the bus", file=sys.stderr)
        return 1
    GLib.io_add_watch(0, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR,
                      host.stdin_ready)
    answer({"ready": True})
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
