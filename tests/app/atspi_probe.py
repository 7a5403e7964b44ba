#!/usr/bin/python3
"""Reads and drives the running program through AT-SPI, as assistive technology does.

Usage: atspi_probe.py COMMAND NAME [ARGUMENT]
  find NAME           the role, the states and the screen rectangle (x y w h) of the first showing
                      object named NAME; exit 1 when there is none
  settext NAME TEXT   sets the text of an editable object
  action NAME ACTION  runs the object's action (press, toggle, ...)
  text NAME           the text of the object
  names NAME          the names of the showing objects inside the object, one a line
  active              the role and the name of the active window
  focused             every object in the focused state, one "role<TAB>name" a line
  radios              every showing radio button in the tree's order, "name<TAB>checked" or "name<TAB>-"
  tree                every object: role, name, whether showing (to explain a failure)
Only objects of the application named "Quillharbour" are searched. A NAME written "ROW>NAME" is the
object named NAME inside the parent of a showing object named ROW (its row): "Chromium>Add Extension"
is the button on Chromium's row, never another browser's.
"""

import sys

import pyatspi


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Quillharbour":
            return app
    return None


def showing(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) or node.getRole() in (
        pyatspi.ROLE_FRAME,
        pyatspi.ROLE_WINDOW,
        pyatspi.ROLE_DIALOG,
    )


def find(node, name, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if node.name == name and showing(node):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), name, depth + 1)
            if found is not None:
                return found
    except Exception:  # an object that went away while we looked
        return None
    return None


def near(app, name):
    if ">" not in name:
        return find(app, name)
    row, wanted = name.split(">", 1)
    rows = []

    def collect(node, depth):
        if node is None or depth > 40:
            return
        try:
            if node.name == row and showing(node) and node.parent is not None:
                rows.append(node.parent)
            for i in range(node.childCount):
                collect(node.getChildAtIndex(i), depth + 1)
        except Exception:  # an object that went away while we looked
            return

    collect(app, 0)
    for scope in rows:
        found = find(scope, wanted)
        if found is not None:
            return found
    return None


def names(node, out, depth=0):
    if node is None or depth > 40:
        return
    try:
        if node.name and showing(node):
            out.append(node.name)
        for i in range(node.childCount):
            names(node.getChildAtIndex(i), out, depth + 1)
    except Exception:  # an object that went away while we looked
        return


def main(argv):
    app = application()
    if app is None:
        return 2
    command = argv[1]
    if command == "tree":
        def walk(node, depth):
            if node is None or depth > 40:
                return
            mark = "" if showing(node) else " (hidden)"
            print("  " * depth + node.getRoleName() + " " + repr(node.name) + mark)
            for i in range(node.childCount):
                walk(node.getChildAtIndex(i), depth + 1)
        walk(app, 0)
        return 0
    if command == "active":
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            if window is not None and window.getState().contains(pyatspi.STATE_ACTIVE):
                print(window.getRoleName())
                print(window.name)
                return 0
        return 1
    if command in ("focused", "radios"):
        def collect(node, depth, out):
            if node is None or depth > 40:
                return
            try:
                states = node.getState()
                if command == "focused" and states.contains(pyatspi.STATE_FOCUSED):
                    out.append(node.getRoleName() + "\t" + node.name)
                elif (command == "radios" and node.getRole() == pyatspi.ROLE_RADIO_BUTTON
                      and states.contains(pyatspi.STATE_SHOWING)):
                    checked = "checked" if states.contains(pyatspi.STATE_CHECKED) else "-"
                    out.append(node.name + "\t" + checked)
                for i in range(node.childCount):
                    collect(node.getChildAtIndex(i), depth + 1, out)
            except Exception:  # an object that went away while we looked
                return
        found = []
        collect(app, 0, found)
        print("\n".join(found))
        return 0
    target = near(app, argv[2])
    if target is None:
        return 1
    if command == "find":
        states = [pyatspi.stateToString(s) for s in target.getState().getStates()]
        x, y, w, h = (0, 0, 0, 0)
        try:
            x, y, w, h = target.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        except NotImplementedError:
            pass
        print(target.getRoleName())
        print(" ".join(states))
        print(x, y, w, h)
        return 0
    if command == "names":
        out = []
        names(target, out)
        print("\n".join(out))
        return 0
    if command == "text":
        print(target.queryText().getText(0, -1))
        return 0
    if command == "settext":
        return 0 if target.queryEditableText().setTextContents(argv[3]) else 1
    if command == "action":
        actions = target.queryAction()
        for i in range(actions.nActions):
            if actions.getName(i).lower() == argv[3].lower():
                return 0 if actions.doAction(i) else 1
        print("actions:", [actions.getName(i) for i in range(actions.nActions)])
        return 1
    return 3


if __name__ == "__main__":
    sys.exit(main(sys.argv))
