# Reads Quorvil's windows through AT-SPI as a screen reader does, and drives them from the keyboard.
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def wait(test, seconds=10):
    end = time.monotonic() + seconds
    while not (found := test()) and time.monotonic() < end:
        time.sleep(0.1)
    return found


def nodes(node):
    yield node
    for child in filter(None, (node.get_child_at_index(i) for i in range(node.get_child_count()))):
        yield from nodes(child)


def states(node):
    return {state.value_nick for state in node.get_state_set().get_states()} if node else set()


def find(root, role, name):
    return next((n for n in nodes(root) if n.get_role_name() == role and n.get_name() == name), None)


def check(ok, text):
    ok or sys.exit("check-accessibility: " + text)


def key(symbol, modifiers=0):
    Atspi.generate_keyboard_event(modifiers, None, Atspi.KeySynthType.LOCKMODIFIERS)
    Atspi.generate_keyboard_event(symbol, None, Atspi.KeySynthType.SYM)
    Atspi.generate_keyboard_event(modifiers, None, Atspi.KeySynthType.UNLOCKMODIFIERS)


app = wait(lambda: find(Atspi.get_desktop(0), "application", "Quorvil")) or sys.exit("check-accessibility: no Quorvil")
# Every control by its role and name, the list, which shows no caption, by what it holds; in tab order.
controls = [("list", "Queue"), ("push button", "Add AVI files"), ("push button", "Clear"),
            ("check box", "Delete original file(s)"), ("push button", "Process Queue"),
            ("check box", "Place in subdirectory")]
for role, name in controls + [("menu item", "File"), ("menu item", "Quit"), ("menu item", "Help")]:
    check(wait(lambda: find(app, role, name)), f"no {role} {name!r}")
check(all({"enabled", "focusable", "showing"} <= states(find(app, *control)) for control in controls) and
      "checked" not in states(find(app, *controls[3])) and "checked" in states(find(app, *controls[5])) and
      find(find(app, *controls[0]), "list item", sys.argv[1]), "the controls' states or the queue's entry are wrong")
check(all(n.get_name() for n in nodes(app) if "focusable" in states(n)), "a control that takes the focus has no name")
check(wait(lambda: "focused" in states(find(app, "list", "Queue"))), "the list has not the focus at start")
for role, name in controls[1:] + controls[:1]:
    key(0xFF09)  # Tab
    check(wait(lambda: "focused" in states(find(app, role, name)), 5), f"Tab did not reach {name!r}")

key(ord("h"), 1 << Atspi.ModifierType.ALT)
check(wait(lambda: "showing" in states(find(app, "menu item", "About..."))), "Alt+H did not open Help")
key(ord("a"))
about = wait(lambda: next((n for n in nodes(app) if n.get_name() == "About" and "showing" in states(n)), None))
labels = [n.get_name() for n in nodes(about) if n.get_role_name() == "label"] if about else []
check(len(labels) == 4 and all(labels) and "Splits an avi file into video, left audio and right audio." in labels,
      f"About is not shown, or its four labels are not read: {labels}")
check(wait(lambda: "focused" in states(find(about, "push button", "OK"))), "OK has not the focus in About")
key(0xFF0D)  # Enter
check(wait(lambda: "showing" not in states(about)), "Enter on OK did not close About")
print("check-accessibility: every control named, with its role and state; Tab reaches each; About read and closed")
