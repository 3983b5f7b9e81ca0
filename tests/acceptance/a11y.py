#!/usr/bin/python3
"""Reads and works the program's controls as a screen reader does, through
the desktop's accessibility bus.

    a11y.py text PREFIX     prints the first accessible name that begins with PREFIX
    a11y.py checked NAME    prints 1 when the check box or radio button NAME is ticked, else 0
    a11y.py press NAME [WINDOW]  presses the button, check box or radio button NAME
                            (of the window captioned WINDOW, where names repeat)
    a11y.py focus NAME      puts the focus on the control NAME (a text box by its label)
    a11y.py rows NAME       prints the rows of the table NAME, a line a row, cells
                            joined by " | "

With QUILLON_PID set, only the program of that process id is read (two
copies of the program on one catalogue).
"""
import os
import sys

import pyatspi

CONTROLS = {"push button", "check box", "radio button", "text", "table"}


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


def nodes(window=None):
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.name != "quillon":
            continue
        if os.environ.get("QUILLON_PID") and \
                app.get_process_id() != int(os.environ["QUILLON_PID"]):
            continue
        for i in range(app.childCount):
            top = app.getChildAtIndex(i)
            if window is None or (top is not None and top.name == window):
                yield from walk(top)


def control(name, window=None):
    for node in nodes(window):
        if node.name == name and node.getRoleName() in CONTROLS and \
                node.getState().contains(pyatspi.STATE_SHOWING):
            return node
    sys.exit(f"no control named {name!r}")


def main(command, argument, window=None):
    if command == "text":
        print(next((n.name for n in nodes() if n.name.startswith(argument)), ""))
    elif command == "checked":
        print(1 if control(argument).getState().contains(pyatspi.STATE_CHECKED) else 0)
    elif command == "press":
        control(argument, window).queryAction().doAction(0)
    elif command == "focus":
        control(argument).queryComponent().grabFocus()
    elif command == "rows":
        table = control(argument).queryTable()
        for row in range(table.nRows):
            print(" | ".join(table.getAccessibleAt(row, column).name
                             for column in range(table.nColumns)))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(*sys.argv[1:4])
