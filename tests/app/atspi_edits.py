#!/usr/bin/python3
"""Edits the running program's to-dos and notes through AT-SPI, as assistive technology does, while
it looks up controls the way a screen reader does (names, states and text of every field).

Usage: atspi_edits.py SEED STEPS
First the fixed sequence: Notes, New note, a title typed, Today, Ctrl+N, the title field looked up.
Then STEPS random steps drawn with SEED. Prints each step; exits 0 when every step ran, 2 when the
program is gone from the accessibility bus (it died), 1 on anything else.
"""

import random
import subprocess
import sys
import time

import pyatspi


class Gone(Exception):
    pass


def application():
    # The latest one that answers: a copy that ended may stay listed for a while.
    desktop = pyatspi.Registry.getDesktop(0)
    for i in reversed(range(desktop.childCount)):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.name == "Quillharbour" and app.childCount >= 0:
                return app
        except Exception:
            continue
    raise Gone()


def walk(node, visit, depth=0):
    """Visits every object below node; objects that go away meanwhile are stepped over."""
    if node is None or depth > 40:
        return
    try:
        visit(node)
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return
    for child in children:
        walk(child, visit, depth + 1)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def find_all(predicate):
    found = []

    def visit(node):
        if showing(node) and predicate(node):
            found.append(node)

    walk(application(), visit)
    return found


def find(name, role=None):
    for node in find_all(lambda n: n.name == name and (role is None or n.getRoleName() == role)):
        return node
    return None


def wait_for(name, role=None, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        node = find(name, role)
        if node is not None:
            return node
        time.sleep(0.1)
    return None


def act(node, *wanted):
    if node is None:
        return False
    try:
        actions = node.queryAction()
        names = [actions.getName(i).lower() for i in range(actions.nActions)]
        for action in wanted:
            if action in names:
                return bool(actions.doAction(names.index(action)))
    except Exception:
        return False
    return False


def press(name, role=None):
    return act(find(name, role), "press", "toggle", "click")


def set_text(node, text):
    try:
        return bool(node.queryEditableText().setTextContents(text))
    except Exception:
        return False


def key(*keys):
    subprocess.run(["xdotool", "key", "--clearmodifiers"] + list(keys), check=False)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "5", text], check=False)


def read_fields():
    """What a screen reader does on every change: names, states and the text of each field, and
    children asked for by a count read before the page changed (past the end, now)."""
    count = [0]

    def visit(node):
        node.name
        node.getState()
        children = node.childCount
        for past in (0, 1, 1000):
            try:
                node.getChildAtIndex(children + past)
            except Exception:
                pass
        if node.getRoleName() in ("text", "entry", "paragraph", "password text"):
            try:
                text = node.queryText()
                text.getText(0, -1)
                text.caretOffset
            except NotImplementedError:
                pass
            count[0] += 1

    walk(application(), visit)
    return count[0]


def read_while_settling(seconds):
    """Reads again and again while a sheet or page settles, as a screen reader follows the focus."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        read_fields()


def page(name):
    return press(name, "page tab")


def words(rng, n):
    pool = ["tea", "call", "rent", "oil", "lamp", "walk", "draft", "plan", "read", "fix", "mail", "bake"]
    return " ".join(rng.choice(pool) for _ in range(n)).capitalize()


def new_todo(rng):
    page("Today")
    if rng.random() < 0.5:
        key("ctrl+n")
    elif not press("Add a priority") and not press("Add"):
        key("ctrl+n")
    title = wait_for("Title", "text", 10)
    if title is None:
        return "no editor"
    read_fields()
    set_text(title, words(rng, 2))
    if rng.random() < 0.8:
        press("Add", "push button")
    else:
        key("Escape")
    return "to-do"


def mark_done(rng):
    page("Today")
    marks = find_all(lambda n: n.name.startswith("Mark ") and n.name.endswith(" done"))
    if not marks:
        return "nothing to mark"
    act(rng.choice(marks), "toggle", "press")
    return "marked"


def new_note(rng):
    page("Notes")
    if not press("New note"):
        key("ctrl+shift+n")
    title = wait_for("Title", "text", 10)
    if title is None:
        return "no note"
    if rng.random() < 0.5:
        type_text(words(rng, 2))
    else:
        set_text(title, words(rng, 2))
    body = find("Note", "text")
    if body is not None:
        set_text(body, words(rng, 5))
    return "note"


def edit_note(rng):
    page("Notes")
    body = find("Note", "text")
    title = find("Title", "text")
    if body is None or title is None:
        return "no note open"
    set_text(rng.choice([body, title]), words(rng, 3))
    return "note edited"


def switch(rng):
    page(rng.choice(["Today", "Notes", "Block", "Today", "Notes"]))
    return "page"


def issue_sequence(rng):
    if not page("Notes") or wait_for("New note") is None:
        raise RuntimeError("no Notes page")
    press("New note")
    if wait_for("Title", "text") is None:
        raise RuntimeError("no note editor")
    type_text("Groceries")
    page("Today")
    key("ctrl+n")
    read_while_settling(1.5)
    if wait_for("Title", "text") is None:
        raise RuntimeError("no to-do editor")
    key("Escape")


def open_and_close_editor(rng):
    page(rng.choice(["Today", "Notes"]))
    key("ctrl+n" if rng.random() < 0.7 else "ctrl+shift+n")
    read_while_settling(rng.uniform(0.3, 1.2))
    key("Escape")
    read_while_settling(0.3)
    return "editor opened and closed"


def main(argv):
    rng = random.Random(int(argv[1]))
    steps = int(argv[2])
    try:
        issue_sequence(rng)
        print("sequence", flush=True)
        moves = [new_todo, new_todo, mark_done, new_note, edit_note, edit_note, switch, open_and_close_editor]
        for step in range(steps):
            what = rng.choice(moves)(rng)
            read_fields()
            print(step, what, flush=True)
        application()
    except Gone:
        print("the program is gone", flush=True)
        return 2
    except Exception as error:  # an unexpected page: say what was showing
        print("failed:", error, flush=True)
        try:
            application()
        except Gone:
            print("the program is gone", flush=True)
            return 2
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
