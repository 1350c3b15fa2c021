#!/usr/bin/python3
"""Reads the panel's window through AT-SPI, as a screen reader does.

  panel-tree.py [--within S] COMMAND APP ARG...

  dump APP                  print APP's accessible tree
  names APP                 check the names of outputs and lamps
  status APP TEXT           wait until the status bar's message holds TEXT
  status-is APP TEXT        wait until it is TEXT ('' for an empty status)
  status-starts APP TEXT    wait until it starts with TEXT
  lamps APP BITS [COMMAND]  run the shell COMMAND, then wait until lamps
                            6..10 read BITS (1 on, 0 off, ? unknown) and
                            every lamp that changed has announced it
  boxes APP BITS            wait until boxes "Output 1".."Output 5" read BITS
                            (1 checked, 0 not, ? described "unknown", -
                            either); a box not unknown has no description
  click APP NAME            press the check box NAME ("Output 3") as a
                            screen reader's user does (its action)
  quiet NAME COMMAND        run the shell COMMAND; no new application NAME
                            may come onto the bus while it runs

APP is the application's name on the bus (the program's file name), or
NAME@PID for the one whose process is PID where several have that name. The
waits give up after S seconds (default 10). Exit status 0 when the check
holds, 1 when it does not, 2 on wrong use.
"""
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


def check_lamps(app, bits, command, seconds):
    wanted = [STATE_WORDS[b] for b in bits]
    before = lamp_states(app)
    pid = app.get_process_id()
    # The change events a screen reader would announce, by lamp, from this
    # application only: another panel on the bus has lamps of the same names.
    heard = {}

    def on_event(event):
        source = event.source
        if source is None or source.get_process_id() != pid:
            return
        heard.setdefault(source.name, []).append(event.any_data)

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-description")
    if command:
        subprocess.run(command, shell=True, check=True)

    def look():
        shown = lamp_states(app)
        changed = [f"Input {n}" for n, (a, b) in enumerate(zip(before, wanted), 6) if a != b]
        silent = [name for name in changed if name not in heard]
        if shown == wanted and not silent:
            counts = ", ".join(f"{name} {len(heard[name])}" for name in changed) or "none needed"
            return True, f"ok: lamps 6..10 read {' '.join(shown)}; change events heard: {counts}"
        return False, f"lamps 6..10 read {shown}, expected {wanted}; no change event from {silent}; heard {heard}"

    return wait_until(look, seconds, 0.05)


def check_boxes(app, bits, seconds):
    def look():
        shown = box_states(app)
        if all(want in ("-", got) for want, got in zip(bits, shown)):
            return True, f"ok: boxes 1..5 read {shown}"
        return False, f"boxes 1..5 read {shown}, expected {bits} (1 checked, 0 not, ? unknown, ! other description)"

    return wait_until(look, seconds, 0.05)


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
    arity = {"dump": (1,), "names": (1,), "status": (2,), "status-is": (2,), "status-starts": (2,),
             "lamps": (2, 3), "boxes": (2,), "click": (2,), "quiet": (2,)}
    if command not in arity or len(args) not in arity[command]:
        print(__doc__, file=sys.stderr)
        return 2
    if command == "quiet":
        return quiet(args[0], args[1])
    if command in ("lamps", "boxes"):
        if len(args[1]) != 5 or set(args[1]) - set("10?" if command == "lamps" else "10?-"):
            print(__doc__, file=sys.stderr)
            return 2
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
    if command == "status-starts":
        return check_status(app, lambda text: text.startswith(args[1]), f"starting {args[1]!r}", seconds)
    if command == "lamps":
        return check_lamps(app, args[1], args[2] if len(args) == 3 else None, seconds)
    if command == "boxes":
        return check_boxes(app, args[1], seconds)
    pump()
    return click(app, args[1])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
