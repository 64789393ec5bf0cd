"""Reads the running Vantorel the way a screen reader does, through AT-SPI,
and drives it with the keyboard alone (xdotool keys to the focused window).

    accessibility_walk.py VANTOREL FOLDER
    accessibility_walk.py --welcome

FOLDER is the watched folder (one file in it is uploading). Walks the
popover, its settings menu, Preferences (every pane) and About: every
control must have a name (a field its label), the list's rows must read
"name, size, state", and a new status line must reach the reader. With
--welcome, the first launch's window instead, left with Return. Prints
one line per failure and the totals; exits 1 when something failed.
"""

import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

passed, failed = 0, 0

# Roles a user works with, which must say what they are.
CONTROLS = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
    pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_LINK, pyatspi.ROLE_LIST_ITEM,
    pyatspi.ROLE_TABLE_CELL,
}
# Fields: named by their label (a "labelled by" relation) or by a name of their own.
FIELDS = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_COMBO_BOX,
          pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_LIST, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE}


def check(what, ok):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + what, flush=True)
    return ok


def until(seconds, probe):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        pump(0.1)
    return None


def pump(seconds):
    """Lets AT-SPI deliver its events for a while."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def keys(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=False)
        pump(0.3)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Vantorel":
            return app
    return None


def window_titled(title):
    app = application()
    if app is None:
        return None
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is not None and child.name == title:
            return child
    return None


def window_of(node):
    """The top of `node`'s window: the last ancestor below the application."""
    while node is not None:
        parent = node.parent
        if parent is None or parent.getRole() == pyatspi.ROLE_APPLICATION:
            return node
        node = parent
    return None


def label_of(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets() > 0:
            return relation.getTarget(0).name
    return ""


def walk(node, seen=None):
    """Every showing node below `node` (a popup menu's items too)."""
    seen = [] if seen is None else seen
    try:
        states = node.getState()
        if not states.contains(pyatspi.STATE_SHOWING):
            return seen
        seen.append(node)
        for i in range(min(node.childCount, 200)):
            child = node.getChildAtIndex(i)
            if child is not None:
                walk(child, seen)
    except Exception:  # a node that went away meanwhile
        pass
    return seen


def expect_named(window, what):
    """No unnamed control, no unlabelled field, in `window`."""
    nodes = walk(window)
    check(f"{what}: something to read", len(nodes) > 1)
    controls = 0
    for node in nodes:
        role = node.getRole()
        if role in CONTROLS:
            controls += 1
            check(f"{what}: a {node.getRoleName()} has a name", node.name.strip() != "")
        elif role in FIELDS:
            controls += 1
            check(f"{what}: a {node.getRoleName()} ('{node.name}') is labelled",
                  node.name.strip() != "" or label_of(node).strip() != "")
    check(f"{what}: has controls", controls > 0)
    return nodes


check("Vantorel is on the accessibility bus", until(20, application) is not None)

# Events: what has the keyboard focus, and names that change. Asked for once
# the application is on the bus: it learns which events a reader listens
# to from the registry's signals, and one sent while it was still starting
# is missed (then it sends none of that kind).
focused = []
renamed = []
pyatspi.Registry.registerEventListener(
    lambda e: e.detail1 and focused.append(e.source), "object:state-changed:focused")
# The new name comes with the event (asking the source again is a round
# trip a loaded machine may time out).
pyatspi.Registry.registerEventListener(lambda e: renamed.append(str(e.any_data)),
                                       "object:property-change:accessible-name")


if sys.argv[1] == "--welcome":
    welcome = until(10, lambda: window_titled("Welcome to Vantorel"))
    check("the welcome is read", welcome is not None)
    if welcome is not None:
        nodes = expect_named(welcome, "welcome")
        radios = [n for n in nodes if n.getRole() == pyatspi.ROLE_RADIO_BUTTON]
        check("its choices are read", len(radios) >= 2)
        check("the chosen one is said to be chosen",
              any(n.getState().contains(pyatspi.STATE_CHECKED) for n in radios))
        keys("Return")
    print(f"accessibility: {passed} passed, {failed} failed", flush=True)
    sys.exit(1 if failed else 0)

vantorel, folder = sys.argv[1], sys.argv[2]


def focus_now():
    return focused[-1] if focused else None


def focus_named(name):
    node = focus_now()
    return node is not None and node.name == name


# The application hears of the listeners a moment later (slowly under the
# sanitizers).
pump(2)


def open_popover():
    """The popover opened from a script: the node with the keyboard, or None."""
    focused.clear()
    subprocess.run([vantorel, "open"], check=False, stdout=subprocess.DEVNULL)
    node = until(10, focus_now)
    if node is None:  # open but unheard (events not yet sent): closed and opened again
        subprocess.run([vantorel, "open"], check=False, stdout=subprocess.DEVNULL)
        pump(1)
        focused.clear()
        subprocess.run([vantorel, "open"], check=False, stdout=subprocess.DEVNULL)
        node = until(10, focus_now)
    return node


# The popover: opened from a script, the keyboard in its list.
list_focus = open_popover()
check("the popover's list takes the focus", list_focus is not None)
if list_focus is not None:
    popover = window_of(list_focus)
    nodes = expect_named(popover, "popover")
    rows = [n.name for n in nodes if n.getRole() in (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TABLE_CELL)]
    check(f"a row reads 'name, size, state' (rows: {rows})",
          any(r.startswith("report.txt, ") and r.endswith(", uploading") and " B" in r for r in rows))

    # A new status line reaches the reader while the popover is open.
    renamed.clear()
    with open(os.path.join(folder, "second.txt"), "w") as f:
        f.write("two\n")
    announced = until(15, lambda: any("2 files are being transferred" in n for n in renamed)) is not None
    if not announced:
        labels = [n.name for n in walk(popover) if n.getRole() == pyatspi.ROLE_LABEL]
        print(f"status now: {labels[:3]}")
    check(f"the new status line is announced (names changed: {renamed[-5:]})", announced)

    # The keyboard alone: Tab to Settings, its menu, Preferences.
    for _ in range(12):
        if focus_named("Settings"):
            break
        keys("Tab")
    check("Tab reaches the Settings button", focus_named("Settings"))
    keys("Return", "Down")
    check("its menu opens and the arrows move along its items",
          until(10, lambda: focus_now() is not None and focus_now().getRole() == pyatspi.ROLE_MENU_ITEM) is not None)
    if focus_now() is not None and focus_now().getRole() == pyatspi.ROLE_MENU_ITEM:
        menu = focus_now().parent
        items = [n.name for n in walk(menu) if n.getRole() == pyatspi.ROLE_MENU_ITEM]
        check(f"the menu's items are named ({items})", items and all(i.strip() for i in items))
    for _ in range(6):
        if focus_named("Preferences\u2026"):
            break
        keys("Down")
    check("the arrows reach Preferences...", focus_named("Preferences\u2026"))
    keys("Return")

prefs = until(10, lambda: window_titled("Vantorel Preferences"))
check("Preferences opens from the keyboard", prefs is not None)
if prefs is not None:
    for pane in ("General", "Advanced", "Filters"):
        pump(0.5)
        expect_named(prefs, "Preferences, " + pane)
        keys("ctrl+Tab")
    keys("Escape")
    check("Escape closes Preferences", until(5, lambda: window_titled("Vantorel Preferences") is None) is not None)

# About, through the same menu.
if open_popover() is not None:
    for _ in range(12):
        if focus_named("Settings"):
            break
        keys("Tab")
    keys("Return")
    for _ in range(6):
        if focus_named("About Vantorel"):
            break
        keys("Down")
    keys("Return")
about = until(10, lambda: window_titled("About Vantorel"))
check("About opens from the keyboard", about is not None)
if about is not None:
    nodes = expect_named(about, "About")
    check("About reads its version", any(n.name.startswith("Version ") for n in nodes))
    keys("Escape")

print(f"accessibility: {passed} passed, {failed} failed", flush=True)
sys.exit(1 if failed else 0)
