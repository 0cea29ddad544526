#!/usr/bin/python3
"""Prints, as JSON, the accessible objects that the application named on the command line shows
through AT-SPI: one object per line with its role, name, path and whether it is focusable, focused
and showing. List rows are left out (a list of 100 rows has 100 of them). Runs in a process of its
own so that it reads the session bus and the display of the environment it is started with."""

import json
import sys

import pyatspi


def walk(node, path, out):
    try:
        role = node.getRoleName()
        state = node.getState()
        entry = {"role": role, "name": node.name or "", "path": path,
                 "focusable": state.contains(pyatspi.STATE_FOCUSABLE),
                 "focused": state.contains(pyatspi.STATE_FOCUSED),
                 "showing": state.contains(pyatspi.STATE_SHOWING)}
        count = node.childCount
    except Exception:  # an object that went away meanwhile
        return
    out.append(entry)
    # The page inside the browser area is the page's, not the program's.
    if role in ("list item", "document web"):
        return
    for i in range(min(count, 500)):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, path + "/%d" % i, out)


def main(name):
    out = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            walk(app, "", out)
    for entry in out:
        print(json.dumps(entry, ensure_ascii=False))
    return 0 if out else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
