#!/usr/bin/python3
"""Reads the panel's window through AT-SPI, as a screen reader does.

  panel-tree.py [--within S] COMMAND APP ARG...

  dump APP                  print APP's accessible tree
  names APP                 check the names of outputs and lamps
  status APP TEXT           wait until the status bar's message holds TEXT
  status-is APP TEXT        wait until it is TEXT ('' for an empty status)
  status-matches APP RE     wait until all of it matches the regular
                            expression RE
  lamps APPS BITS [COMMAND] run the shell COMMAND, then wait until lamps
                            6..10 of each of APPS (APP,APP...) read BITS
                            (1 on, 0 off, ? unknown) and every lamp that
                            changed has announced it
  boxes APP BITS            wait until boxes "Output 1".."Output 5" read BITS
                            (1 checked, 0 not, ? described "unknown", -
                            either); a box not unknown has no description
  ports APP NAME...         wait until the port list holds NAME... in that
                            order, the first one selected
  click APP NAME            press the check box NAME ("Output 3") as a
                            screen reader's user does (its action)
  mouse APP NAME            click the middle of the check box NAME with the
                            mouse (xdotool), APP's window raised first
  quiet NAME COMMAND        run the shell COMMAND; no new application NAME
                            may come onto the bus while it runs

APP is the application's name on the bus (the program's file name), or
NAME@PID for the one whose process is PID where several have that name. The
waits give up after S seconds (default 10). Exit status 0 when the check
holds, 1 when it does not, 2 on wrong use.
"""
import re
import subprocess
import sys
import time

import pyatspi

# Run from the source tree: no __pycache__ left beside the module.
sys.dont_write_bytecode = True
from panelreading import (applications, box_states, by_name, describe, find_app, lamp_states,  # noqa: E402
                          lamps, pump, status_texts, wait_until, walk)

STATE_WORDS = {"1": "on", "0": "off", "?": "unknown"}


def check_names(app):
    boxes = by_name(app, pyatspi.ROLE_CHECK_BOX)
    found = lamps(app)
    missing = [f"Output {n}" for n in range(1, 6) if f"Output {n}" not in boxes]
    missing += [f"Input {n}" for n in range(6, 11) if f"Input {n}" not in found]
    if missing:
        print("missing: " + ", ".join(missing))
        return 1
    print("ok: check boxes 'Output 1'..'Output 5' and lamps 'Input 6'..'Input 10' are named")
    return 0


def check_status(app, holds, wanted, seconds):
    """Waits until the status bar's message satisfies holds(message)."""

    def look():
        said = status_texts(app)
        if any(holds(text) for text in said):
            return True, f"ok: the status bar reads {said[0]!r}"
        return False, f"the status bar reads {said}, not {wanted}"

    return wait_until(look, seconds, 0.1)


def check_lamps(apps, bits, command, seconds):
    wanted = [STATE_WORDS[b] for b in bits]
    before = {app.get_process_id(): lamp_states(app) for app in apps}
    # The change events a screen reader would announce, by application and
    # lamp: panels on the bus have lamps of the same names.
    heard = {pid: {} for pid in before}

    def on_event(event):
        source = event.source
        if source is not None and source.get_process_id() in heard:
            heard[source.get_process_id()].setdefault(source.name, []).append(event.any_data)

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-description")
    if command:
        subprocess.run(command, shell=True, check=True)

    def look_at(app):
        pid = app.get_process_id()
        shown = lamp_states(app)
        changed = [f"Input {n}" for n, (a, b) in enumerate(zip(before[pid], wanted), 6) if a != b]
        silent = [name for name in changed if name not in heard[pid]]
        if shown == wanted and not silent:
            counts = ", ".join(f"{name} {len(heard[pid][name])}" for name in changed) or "none needed"
            return True, f"lamps 6..10 read {' '.join(shown)}; change events heard: {counts}"
        return False, (f"lamps 6..10 read {shown}, expected {wanted}; no change event from {silent}; "
                       f"heard {heard[pid]}")

    def look():
        seen = [look_at(app) for app in apps]
        lines = "\n".join(f"{'ok' if held else 'not yet'}: {app.name}@{app.get_process_id()}: {message}"
                          for app, (held, message) in zip(apps, seen))
        return all(held for held, _ in seen), lines

    return wait_until(look, seconds, 0.05)


def check_boxes(app, bits, seconds):
    def look():
        shown = box_states(app)
        if all(want in ("-", got) for want, got in zip(bits, shown)):
            return True, f"ok: boxes 1..5 read {shown}"
        return False, f"boxes 1..5 read {shown}, expected {bits} (1 checked, 0 not, ? unknown, ! other description)"

    return wait_until(look, seconds, 0.05)


def check_ports(app, names, seconds):
    def look():
        lists = [node for _, node in walk(app) if node.getRole() == pyatspi.ROLE_COMBO_BOX]
        if not lists:
            return False, "the window has no port list"
        items = [node.name for _, node in walk(lists[0]) if node.getRole() == pyatspi.ROLE_LIST_ITEM]
        if items == names and lists[0].name == names[0]:
            return True, f"ok: the port list holds {items}, {lists[0].name!r} selected"
        return False, f"the port list holds {items}, {lists[0].name!r} selected, not {names} with the first selected"

    return wait_until(look, seconds, 0.1)


def click(app, name):
    boxes = by_name(app, pyatspi.ROLE_CHECK_BOX)
    if name not in boxes:
        print(f"no check box {name!r}, only {sorted(boxes)}")
        return 1
    action = boxes[name].queryAction()
    if action.nActions < 1:
        print(f"the check box {name!r} offers no action")
        return 1
    if not action.doAction(0):
        print(f"the check box {name!r} refused its action {action.getName(0)!r}")
        return 1
    print(f"ok: {name!r} pressed (action {action.getName(0)!r})")
    return 0


def mouse(app, name):
    boxes = by_name(app, pyatspi.ROLE_CHECK_BOX)
    if name not in boxes:
        print(f"no check box {name!r}, only {sorted(boxes)}")
        return 1
    pid = str(app.get_process_id())
    # Windows of several panels may lie on top of each other.
    windows = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", pid], capture_output=True, text=True)
    for window in windows.stdout.split():
        subprocess.run(["xdotool", "windowraise", window], check=True)
    x, y, width, height = boxes[name].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = x + width // 2, y + height // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
    print(f"ok: {name!r} clicked with the mouse at {x},{y}")
    return 0


def quiet(name, command):
    """Runs COMMAND, watching the bus meanwhile for an application NAME that
    was not there before."""
    before = {pid for app_name, pid, _ in applications() if app_name == name}
    came = set()
    process = subprocess.Popen(command, shell=True)
    while True:
        ended = process.poll() is not None
        came |= {pid for app_name, pid, _ in applications() if app_name == name and pid not in before}
        if ended:
            break
        time.sleep(0.05)
    if came:
        print(f"an application {name!r} came onto the bus while the command ran: pid {sorted(came)}")
        return 1
    print(f"ok: no application {name!r} came onto the bus while the command ran")
    return 0


def main(argv):
    seconds = 10.0
    if len(argv) > 2 and argv[1] == "--within":
        seconds = float(argv[2])
        argv = argv[:1] + argv[3:]
    command, args = (argv[1], argv[2:]) if len(argv) > 2 else (None, [])
    arity = {"dump": (1,), "names": (1,), "status": (2,), "status-is": (2,), "status-matches": (2,),
             "lamps": (2, 3), "boxes": (2,), "ports": range(2, 20), "click": (2,), "mouse": (2,), "quiet": (2,)}
    if command not in arity or len(args) not in arity[command]:
        print(__doc__, file=sys.stderr)
        return 2
    if command == "quiet":
        return quiet(args[0], args[1])
    if command in ("lamps", "boxes"):
        if len(args[1]) != 5 or set(args[1]) - set("10?" if command == "lamps" else "10?-"):
            print(__doc__, file=sys.stderr)
            return 2
    if command == "lamps":
        apps = [find_app(wanted, seconds) for wanted in args[0].split(",")]
        return check_lamps(apps, args[1], args[2] if len(args) == 3 else None, seconds)
    app = find_app(args[0], seconds)
    if command == "dump":
        for depth, node in walk(app):
            print("  " * depth + describe(node))
        return 0
    if command == "names":
        return check_names(app)
    if command == "status":
        return check_status(app, lambda text: args[1] in text, f"holding {args[1]!r}", seconds)
    if command == "status-is":
        return check_status(app, lambda text: text == args[1], repr(args[1]), seconds)
    if command == "status-matches":
        return check_status(app, lambda text: re.fullmatch(args[1], text), f"matching {args[1]!r}", seconds)
    if command == "boxes":
        return check_boxes(app, args[1], seconds)
    if command == "ports":
        return check_ports(app, args[1:], seconds)
    pump()
    return click(app, args[1]) if command == "click" else mouse(app, args[1])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
