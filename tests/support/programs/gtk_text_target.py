#!/usr/bin/python3
"""pelora-gtk-target: a GTK 3 window that GUI tests put text into.

Fields (accessible names): "entry" (Gtk.Entry with a placeholder), "view" (Gtk.TextView),
"readonly" (a Gtk.Entry that cannot be edited). Menu bar: an Edit menu holding a
disabled "Paste" on <Control>v, "Paste Special" on <Control><Shift>v and the enabled
"Paste" on <Control>v; a triggered item is recorded and pastes into the focused field.
The state of every field is written as JSON to --state-file after each change and printed
on standard output on exit (closing the window, SIGTERM or SIGINT).
"""
import argparse
import json
import os
import signal
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--window-title", default="Pelora GTK Target")
    parser.add_argument("--focus", default="entry", choices=["entry", "view", "readonly"])
    parser.add_argument("--entry", default="")
    parser.add_argument("--view", default="")
    parser.add_argument("--placeholder", default="ここに入力")
    parser.add_argument("--cursor", type=int, default=None, help="caret in code points")
    parser.add_argument("--select", default=None, help="START:END in code points")
    parser.add_argument("--edit-menu", default="Edit")
    parser.add_argument("--no-menu-bar", action="store_true")
    parser.add_argument("--no-enabled-paste", action="store_true")
    parser.add_argument("--state-file", default=None)
    args = parser.parse_args()

    window = Gtk.Window(title=args.window_title)
    window.set_default_size(640, 360)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=4)
    window.add(box)
    triggered = []

    entry = Gtk.Entry()
    entry.set_placeholder_text(args.placeholder)
    entry.set_text(args.entry)
    entry.get_accessible().set_name("entry")
    view = Gtk.TextView()
    view.get_buffer().set_text(args.view)
    view.get_accessible().set_name("view")
    view.set_size_request(-1, 120)
    readonly = Gtk.Entry()
    readonly.set_text("読み取り専用")
    readonly.set_editable(False)
    readonly.get_accessible().set_name("readonly")
    fields = {"entry": entry, "view": view, "readonly": readonly}

    def focused_name():
        widget = window.get_focus()
        for name, field in fields.items():
            if field is widget:
                return name
        return ""

    def state():
        buffer = view.get_buffer()
        selection = entry.get_selection_bounds()
        return {
            "title": window.get_title(),
            "entry": entry.get_text(),
            "entryCursor": entry.get_position(),
            "entrySelection": entry.get_chars(*selection) if selection else "",
            "view": buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True),
            "viewCursor": buffer.get_iter_at_mark(buffer.get_insert()).get_offset(),
            "readonly": readonly.get_text(),
            "focus": focused_name(),
            "triggered": triggered,
        }

    def write_state(*_):
        if args.state_file:
            temporary = args.state_file + ".tmp"
            with open(temporary, "w", encoding="utf-8") as out:
                json.dump(state(), out, ensure_ascii=False)
            os.replace(temporary, args.state_file)
        return False

    if not args.no_menu_bar:
        accelerators = Gtk.AccelGroup()
        window.add_accel_group(accelerators)
        bar = Gtk.MenuBar()
        edit_item = Gtk.MenuItem(label=args.edit_menu)
        edit = Gtk.Menu()
        edit.set_accel_group(accelerators)
        edit_item.set_submenu(edit)
        bar.append(edit_item)

        def add(label, name, key, modifiers, sensitive=True):
            item = Gtk.MenuItem(label=label)
            item.add_accelerator("activate", accelerators, key, modifiers, Gtk.AccelFlags.VISIBLE)
            item.set_sensitive(sensitive)

            def activated(_item):
                triggered.append(name)
                if name in ("paste", "pasteSpecial"):
                    widget = window.get_focus()
                    if isinstance(widget, Gtk.Entry):
                        widget.paste_clipboard()
                    elif isinstance(widget, Gtk.TextView):
                        widget.emit("paste-clipboard")
                GLib.idle_add(write_state)

            item.connect("activate", activated)
            edit.append(item)

        control = Gdk_modifier("CONTROL_MASK")
        shift = Gdk_modifier("SHIFT_MASK")
        add("Paste", "disabledPaste", ord("v"), control, sensitive=False)
        add("Paste Special", "pasteSpecial", ord("v"), control | shift)
        if not args.no_enabled_paste:
            add("Paste", "paste", ord("v"), control)
        box.pack_start(bar, False, False, 0)

    for field in fields.values():
        box.pack_start(field, False, False, 0)

    for signal_name in ("changed", "notify::cursor-position", "notify::selection-bound"):
        entry.connect(signal_name, lambda *_: GLib.idle_add(write_state))
        readonly.connect(signal_name, lambda *_: GLib.idle_add(write_state))
    view.get_buffer().connect("changed", lambda *_: GLib.idle_add(write_state))
    view.get_buffer().connect("notify::cursor-position", lambda *_: GLib.idle_add(write_state))
    window.connect("set-focus", lambda *_: GLib.idle_add(write_state))

    def finish(*_):
        Gtk.main_quit()
        return False

    window.connect("delete-event", finish)
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, finish)

    window.show_all()
    target = fields[args.focus]
    target.grab_focus()
    if isinstance(target, Gtk.Entry):
        if args.select:
            start, end = (int(v) for v in args.select.split(":"))
            target.select_region(start, end)
        elif args.cursor is not None:
            target.set_position(args.cursor)
    else:
        buffer = target.get_buffer()
        if args.select:
            start, end = (int(v) for v in args.select.split(":"))
            buffer.select_range(buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))
        else:
            offset = args.cursor if args.cursor is not None else buffer.get_char_count()
            buffer.place_cursor(buffer.get_iter_at_offset(offset))
    write_state()
    Gtk.main()
    write_state()
    sys.stdout.write(json.dumps(state(), ensure_ascii=False) + "\n")
    sys.stdout.flush()


def Gdk_modifier(name):
    gi.require_version("Gdk", "3.0")
    from gi.repository import Gdk

    return getattr(Gdk.ModifierType, name)


if __name__ == "__main__":
    main()
