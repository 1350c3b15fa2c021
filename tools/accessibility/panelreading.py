"""What tools/accessibility/panel-tree.py reads from a panel's window on the
AT-SPI bus, as a screen reader reads it: the application, its nodes, the
lamps, the output boxes and the status bar."""
import sys
import time

import pyatspi
from gi.repository import GLib


def pump():
    """Takes in what the bus has sent (events, applications come and gone)."""
    context = GLib.MainContext.default()
    while context.iteration(False):
        pass


def applications():
    """The applications on the bus now, as (name, pid, app)."""
    pump()
    found = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is None:
            continue
        try:
            found.append((app.name, app.get_process_id(), app))
        except Exception:  # an application that left while it was asked
            continue
    return found


def find_app(wanted, seconds=10):
    """The application WANTED names: its name on the bus (the program's file
    name), or NAME@PID for the one of several with that name whose process
    is PID. Waits up to `seconds` for it; ends the program if it never
    comes."""
    name, _, pid = wanted.partition("@")
    deadline = time.monotonic() + seconds
    while True:
        for app_name, app_pid, app in applications():
            if app_name == name and (not pid or str(app_pid) == pid):
                return app
        if time.monotonic() > deadline:
            break
        time.sleep(0.2)
    there = [f"{app_name}@{app_pid}" for app_name, app_pid, _ in applications()]
    sys.exit(f"panel-tree.py: no application '{wanted}' on the accessibility bus, only {there}")


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


def lamps(app):
    return by_name(app, pyatspi.ROLE_LABEL) | by_name(app, pyatspi.ROLE_IMAGE)


def lamp_states(app):
    """The descriptions of lamps 6..10 ("on", "off", "unknown"), None for a
    lamp that is missing."""
    found = lamps(app)
    return [found[f"Input {n}"].description if f"Input {n}" in found else None for n in range(6, 11)]


def box_states(app):
    """Boxes "Output 1".."Output 5" as a digit each: 1 checked, 0 not, ?
    when its description is "unknown", ! for any other description, x for
    a box that is missing."""
    boxes = by_name(app, pyatspi.ROLE_CHECK_BOX)
    states = ""
    for n in range(1, 6):
        box = boxes.get(f"Output {n}")
        if box is None:
            states += "x"
        elif box.description == "unknown":
            states += "?"
        elif box.description:
            states += "!"
        else:
            states += "1" if box.getState().contains(pyatspi.STATE_CHECKED) else "0"
    return states


def status_texts(app):
    """What the status bars say (their accessible names); one in a panel."""
    return [node.name for _, node in walk(app) if node.getRole() == pyatspi.ROLE_STATUS_BAR]


def wait_until(look, seconds, pause):
    """Calls look() until it returns (True, message) or `seconds` have
    passed; prints the message of its last call. 0 if it held, else 1."""
    deadline = time.monotonic() + seconds
    while True:
        pump()
        held, message = look()
        if held or time.monotonic() > deadline:
            print(message)
            return 0 if held else 1
        time.sleep(pause)
