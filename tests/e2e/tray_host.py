#!/usr/bin/python3
"""A desktop's tray, as far as a program can tell, on the session bus of the environment.

  tray_host.py watch LOG        the tray's watcher: takes org.kde.StatusNotifierWatcher, says a host
                                is there, and writes the bus name of each icon that registers to LOG
  tray_host.py tooltip NAME     prints the tooltip of the icon that NAME registered
  tray_host.py menu NAME        prints its menu as JSON: label, enabled, shortcut of each item
  tray_host.py click NAME LABEL clicks the item of its menu with that label
  tray_host.py close WINDOW     asks the X window to close, as a window manager's close box does
"""

import json
import sys

from gi.repository import Gio, GLib

WATCHER = """<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
</interface></node>"""


def watch(log):
    items = []

    def call(conn, sender, path, iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            items.append(sender)
            with open(log, "a") as f:
                f.write(sender + "\n")
        invocation.return_value(None)

    def get(conn, sender, path, iface, prop):
        return {"RegisteredStatusNotifierItems": GLib.Variant("as", items),
                "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                "ProtocolVersion": GLib.Variant("i", 0)}[prop]

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    bus.register_object("/StatusNotifierWatcher", Gio.DBusNodeInfo.new_for_xml(WATCHER).interfaces[0], call, get,
                        None)
    Gio.bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", 0, None, None)
    GLib.MainLoop().run()


def bus_call(name, path, iface, method, args, signature):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    return bus.call_sync(name, path, iface, method, GLib.Variant(signature, args) if signature else None, None, 0,
                         5000, None).unpack()


def menu(name):
    layout = bus_call(name, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                      (0, -1, ["label", "enabled", "shortcut"]), "(iias)")[1]
    out = []

    def walk(node):
        id_, props, children = node
        if "label" in props:
            out.append({"id": id_, "label": props["label"], "enabled": props.get("enabled", True),
                        "shortcut": ["+".join(k) for k in props.get("shortcut", [])]})
        for child in children:
            walk(child)

    walk(layout)
    return out


def close(window):
    import ctypes
    import ctypes.util
    x = ctypes.CDLL(ctypes.util.find_library("X11"))
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class XEvent(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(XEvent)]
    display = x.XOpenDisplay(None)
    event = XEvent()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window
    event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x.XFlush(display)


def main(args):
    if args[0] == "watch":
        watch(args[1])
    elif args[0] == "tooltip":
        print(bus_call(args[1], "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                       ("org.kde.StatusNotifierItem", "ToolTip"), "(ss)")[0][2])
    elif args[0] == "menu":
        print(json.dumps(menu(args[1]), ensure_ascii=False))
    elif args[0] == "click":
        item = next(i for i in menu(args[1]) if i["label"] == args[2])
        bus_call(args[1], "/MenuBar", "com.canonical.dbusmenu", "Event", (item["id"], "clicked", GLib.Variant("i", 0), 0),
                 "(isvu)")
    elif args[0] == "close":
        close(int(args[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
