#!/usr/bin/python3
"""Reads the panel's window through AT-SPI, as a screen reader does.

  panel-tree.py dump APP                 print APP's accessible tree
  panel-tree.py names APP                check the names of outputs and lamps
  panel-tree.py lamps APP BITS [SECONDS] wait until lamps 6..10 read BITS
                                         (1 on, 0 off, ? unknown)

APP is the application's name on the bus (the program's file name). Exit
status 0 when the check holds, 1 when it does not, 2 on wrong use.
"""
import sys
import time

import pyatspi

STATE_WORDS = {"1": "on", "0": "off", "?": "unknown"}


def find_app(name, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name == name:
                return app
        time.sleep(0.2)
    names = [app.name for app in pyatspi.Registry.getDesktop(0) if app is not None]
    sys.exit(f"panel-tree.py: no application '{name}' on the accessibility bus, only {names}")


def walk(node, depth=0):
    yield depth, node
    for child in node:
        if child is not None:
            yield from walk(child, depth + 1)


def text_of(node):
    try:
        text = node.queryText()
        return text.getText(0, text.characterCount)
    except NotImplementedError:
        return None


def describe(node):
    states = sorted(pyatspi.stateToString(s) for s in node.getState().getStates())
    line = f"{node.getRoleName()} name={node.name!r} description={node.description!r}"
    text = text_of(node)
    if text:
        line += f" text={text!r}"
    return line + f" [{' '.join(states)}]"


def by_name(app, role):
    return {node.name: node for _, node in walk(app) if node.getRole() == role and node.name}


def check_names(app):
    boxes = by_name(app, pyatspi.ROLE_CHECK_BOX)
    lamps = by_name(app, pyatspi.ROLE_LABEL) | by_name(app, pyatspi.ROLE_IMAGE)
    missing = [f"Output {n}" for n in range(1, 6) if f"Output {n}" not in boxes]
    missing += [f"Input {n}" for n in range(6, 11) if f"Input {n}" not in lamps]
    if missing:
        print("missing: " + ", ".join(missing))
        return 1
    print("ok: check boxes 'Output 1'..'Output 5' and lamps 'Input 6'..'Input 10' are named")
    return 0


def lamp_states(app):
    lamps = by_name(app, pyatspi.ROLE_LABEL) | by_name(app, pyatspi.ROLE_IMAGE)
    return [lamps[f"Input {n}"].description if f"Input {n}" in lamps else None for n in range(6, 11)]


def check_lamps(app, bits, seconds):
    wanted = [STATE_WORDS[b] for b in bits]
    deadline = time.monotonic() + seconds
    while True:
        shown = lamp_states(app)
        if shown == wanted:
            print(f"ok: lamps 6..10 read {' '.join(shown)}")
            return 0
        if time.monotonic() > deadline:
            print(f"lamps 6..10 read {shown}, expected {wanted}")
            return 1
        time.sleep(0.1)


def main(argv):
    if len(argv) < 3 or argv[1] not in ("dump", "names", "lamps"):
        print(__doc__, file=sys.stderr)
        return 2
    app = find_app(argv[2])
    if argv[1] == "dump":
        for depth, node in walk(app):
            print("  " * depth + describe(node))
        return 0
    if argv[1] == "names":
        return check_names(app)
    if len(argv) < 4 or len(argv[3]) != 5 or set(argv[3]) - set(STATE_WORDS):
        print(__doc__, file=sys.stderr)
        return 2
    return check_lamps(app, argv[3], float(argv[4]) if len(argv) > 4 else 10)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
