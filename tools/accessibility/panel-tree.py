#!/usr/bin/python3
"""Reads the panel's window through AT-SPI, as a screen reader does.

  panel-tree.py dump APP                 print APP's accessible tree
  panel-tree.py names APP                check the names of outputs and lamps
  panel-tree.py status APP TEXT         wait until the status bar says TEXT
  panel-tree.py lamps APP BITS [COMMAND] run the shell COMMAND, then wait until
                                         lamps 6..10 read BITS (1 on, 0 off,
                                         ? unknown) and every lamp that
                                         changed has announced it

APP is the application's name on the bus (the program's file name). Exit
status 0 when the check holds, 1 when it does not, 2 on wrong use.
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

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
    try:
        width, height = node.queryComponent().getSize()
        line += f" {width}x{height}"
    except NotImplementedError:
        pass
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


def wait_until(look, seconds, pause):
    """Calls look() until it returns (True, message) or `seconds` have
    passed; prints the message of its last call. 0 if it held, else 1."""
    deadline = time.monotonic() + seconds
    while True:
        held, message = look()
        if held or time.monotonic() > deadline:
            print(message)
            return 0 if held else 1
        time.sleep(pause)


def check_status(app, text, seconds=10):
    def look():
        said = [node.name for _, node in walk(app) if node.getRole() == pyatspi.ROLE_STATUS_BAR]
        if any(text in name for name in said):
            return True, f"ok: the status bar reads {said[0]!r}"
        return False, f"the status bar reads {said}, not {text!r}"

    return wait_until(look, seconds, 0.1)


def check_lamps(app, bits, command, seconds=10):
    wanted = [STATE_WORDS[b] for b in bits]
    before = lamp_states(app)
    # The change events a screen reader would announce, by lamp.
    heard = {}

    def on_event(event):
        name = event.source.name if event.source is not None else None
        heard.setdefault(name, []).append(event.any_data)

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-description")
    if command:
        subprocess.run(command, shell=True, check=True)
    context = GLib.MainContext.default()

    def look():
        while context.iteration(False):
            pass
        shown = lamp_states(app)
        changed = [f"Input {n}" for n, (a, b) in enumerate(zip(before, wanted), 6) if a != b]
        silent = [name for name in changed if name not in heard]
        if shown == wanted and not silent:
            counts = ", ".join(f"{name} {len(heard[name])}" for name in changed) or "none needed"
            return True, f"ok: lamps 6..10 read {' '.join(shown)}; change events heard: {counts}"
        return False, f"lamps 6..10 read {shown}, expected {wanted}; no change event from {silent}; heard {heard}"

    return wait_until(look, seconds, 0.05)


def main(argv):
    if len(argv) < 3 or argv[1] not in ("dump", "names", "status", "lamps"):
        print(__doc__, file=sys.stderr)
        return 2
    app = find_app(argv[2])
    if argv[1] == "dump":
        for depth, node in walk(app):
            print("  " * depth + describe(node))
        return 0
    if argv[1] == "names":
        return check_names(app)
    if argv[1] == "status" and len(argv) == 4:
        return check_status(app, argv[3])
    if len(argv) not in (4, 5) or len(argv[3]) != 5 or set(argv[3]) - set(STATE_WORDS):
        print(__doc__, file=sys.stderr)
        return 2
    return check_lamps(app, argv[3], argv[4] if len(argv) == 5 else None)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
