#!/usr/bin/python3
"""Reads and works the program's controls as a screen reader does, through
the desktop's accessibility bus.

    a11y.py text PREFIX     prints the first accessible name that begins with PREFIX
    a11y.py checked NAME    prints 1 when the check box or radio button NAME is ticked, else 0
    a11y.py press NAME      presses the button, check box or radio button NAME
"""
import sys

import pyatspi

CONTROLS = {"push button", "check box", "radio button"}


def walk(node):
    if node is None:
        return
    yield node
    for i in range(node.childCount):
        try:
            child = node.getChildAtIndex(i)
        except Exception:  # a control that went away meanwhile
            continue
        yield from walk(child)


def nodes():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "quillon":
            yield from walk(app)


def control(name):
    for node in nodes():
        if node.name == name and node.getRoleName() in CONTROLS and \
                node.getState().contains(pyatspi.STATE_SHOWING):
            return node
    sys.exit(f"no control named {name!r}")


def main(command, argument):
    if command == "text":
        print(next((n.name for n in nodes() if n.name.startswith(argument)), ""))
    elif command == "checked":
        print(1 if control(argument).getState().contains(pyatspi.STATE_CHECKED) else 0)
    elif command == "press":
        control(argument).queryAction().doAction(0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(*sys.argv[1:3])
