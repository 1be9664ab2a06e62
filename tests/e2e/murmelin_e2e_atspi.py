#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Drives Murmelin's windows over the accessibility bus, for sessions without input events
# (a headless Wayland compositor has no seat).
#   murmelin_e2e_atspi.py press NAME [NAME...]
#       Presses each push button NAME in turn (the first found in any of the program's
#       windows), waiting up to 15 s for it to appear. A press that opens a modal window does
#       not return until that window closes, so every press runs on a thread of its own.
#   murmelin_e2e_atspi.py windows
#       Prints the program's top-level windows, one role and name a line.
#   murmelin_e2e_atspi.py texts
#       Prints every name and text the program's windows show, one a line, and "UNNAMED role"
#       for each control that takes the focus but has no name, neither its own nor a label's.
#   murmelin_e2e_atspi.py focused | states NAME
#       Prints the role and name of the object that has the focus, or the states of NAME.
#   murmelin_e2e_atspi.py listen SECONDS
#       Prints "role: name" for each change of an accessible name in the program, for SECONDS.
# Exit code 1 when a button does not appear in time, 2 on bad arguments.
import sys
import threading
import time

import pyatspi

APP_NAME = "murmelin"


def program():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name.lower() == APP_NAME:
            return app
    return None


def find_button(node, name, depth=0):
    if node is None or depth > 12:
        return None
    try:
        if node.name == name and node.getRoleName() in ("push button", "check box"):
            return node
        for child in node:
            found = find_button(child, name, depth + 1)
            if found is not None:
                return found
    except Exception:  # a window that closes while we look
        return None
    return None


def press(name, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        button = find_button(program(), name)
        if button is not None:
            action = button.queryAction()
            threading.Thread(target=action.doAction, args=(0,), daemon=True).start()
            return True
        time.sleep(0.1)
    print(f"no button {name!r} within {timeout:.0f} s", file=sys.stderr)
    return False


def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    for child in node:
        yield from walk(child, depth + 1)


def texts():
    for node in walk(program()):
        if node.name:
            print(node.name)
        labelled = any(r.getRelationType() == pyatspi.RELATION_LABELLED_BY for r in node.getRelationSet())
        if node.getState().contains(pyatspi.STATE_FOCUSABLE) and not node.name and not labelled:
            print("UNNAMED", node.getRoleName())


def first_named(name):
    return next((n for n in walk(program()) if n.name == name), None)


def main(argv):
    if len(argv) == 2 and argv[1] == "texts":
        texts()
        return 0
    if len(argv) == 2 and argv[1] == "focused":
        node = next((n for n in walk(program()) if n.getState().contains(pyatspi.STATE_FOCUSED)), None)
        print(f"{node.getRoleName()}: {node.name}" if node else "none")
        return 0
    if len(argv) == 3 and argv[1] == "states":
        node = first_named(argv[2])
        print(" ".join(sorted(pyatspi.stateToString(s) for s in node.getState().getStates())) if node else "none")
        return 0
    if len(argv) == 3 and argv[1] == "listen":
        def changed(event):
            if event.host_application and event.host_application.name.lower() == APP_NAME:
                print(f"{event.source.getRoleName()}: {event.source.name}", flush=True)
        pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name")
        print("listening", flush=True)
        threading.Timer(float(argv[2]), pyatspi.Registry.stop).start()
        pyatspi.Registry.start()
        return 0
    if len(argv) >= 3 and argv[1] == "press":
        for name in argv[2:]:
            if not press(name):
                return 1
            time.sleep(0.5)  # lets the window that the press opens or closes settle
        return 0
    if len(argv) == 2 and argv[1] == "windows":
        app = program()
        for window in (app or []):
            print(window.getRoleName(), window.name)
        return 0
    print(__doc__ or "usage: murmelin_e2e_atspi.py press NAME... | windows | texts | focused | "
          "states NAME | listen SECONDS", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
