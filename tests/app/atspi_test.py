#!/usr/bin/python3
"""What a screen reader receives from the built kelmo, through the real AT-SPI bus: run
under dbus-run-session, the window in Xvfb with Qt's AT-SPI bridge on. The window is a
frame named by its title; the counter's name starts with its number and the body's
description carries the count, the room left and the warning, true from the start;
crossing a limit, each success and a change of counting mode shows a notification once,
each in its own event and in the order it happened. A message past the limit sent in parts
(to a stand-in sendmail): the dialog's list of parts, each part's progress and the
outcome are heard."""
import os
import re
import subprocess
import sys
import tempfile
import time
import warnings

from harness import check, report, stop, titles, wait_until, warning

warnings.filterwarnings("ignore", category=DeprecationWarning)  # Atspi's *_iface names
try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
except (ImportError, ValueError) as error:
    print(f"no AT-SPI for Python ({error}): skipped")
    sys.exit(77)

KELMO = os.path.abspath(sys.argv[1])
TITLES = titles(KELMO)
WARNING = warning(TITLES, "message")
SUBJECT_WARNING = warning(TITLES, "subject")
ADDRESS_WARNING = warning(TITLES, "address")
shown = []  # (role, name) of every object that started showing


def on_showing(event):
    if event.detail1 == 1:
        try:
            shown.append((event.source.get_role_name(), event.source.get_name()))
        except GLib.Error:
            pass


def pump(seconds):
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def settle(condition, seconds=15):
    """Pumps events until the condition holds (a loaded machine may take a while), then a
    moment more, so that an event that should not come has had its chance."""
    end = time.monotonic() + seconds
    while time.monotonic() < end and not condition():
        pump(0.05)
    pump(0.5)


def descendants(node, depth=0):
    if depth > 6:
        return
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child
            yield from descendants(child, depth + 1)


def find(root, role, name):
    for node in descendants(root):
        if node.get_role_name() == role and node.get_name() == name:
            return node
    return None


def announcements():
    return [name for role, name in shown if role == "notification"]


def press(node):
    """Presses a button or toggles a check box through its AT-SPI action."""
    action = node.get_action_iface()
    names = [action.get_action_name(i) for i in range(action.get_n_actions())]
    for name in ["Press", "Toggle"]:
        if name in names:
            return action.do_action(names.index(name))
    return action.do_action(0)


def says_count(text, count, unit):
    """Whether an announcement names the count as a number of its own, and its unit."""
    return re.search(rf"(?<!\d){count}(?!\d)", text) is not None and unit in text


def main():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=[write_fd],
                            stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        display = ":" + pipe.readline().strip()
    kelmo = None
    with tempfile.TemporaryDirectory() as workdir:
        try:
            env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
            env.update(DISPLAY=display, LANG="C.UTF-8", QT_QPA_PLATFORM="xcb",
                       QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
            # A sendmail that keeps each mail it is given, first on PATH.
            sent_dir = os.path.join(workdir, "sent")
            bin_dir = os.path.join(workdir, "bin")
            os.mkdir(sent_dir)
            os.mkdir(bin_dir)
            with open(os.path.join(bin_dir, "sendmail"), "w") as f:
                f.write(f'#!/bin/sh\nexec /bin/cat > "{sent_dir}/mail.$$"\n')
            os.chmod(os.path.join(bin_dir, "sendmail"), 0o755)
            env["PATH"] = bin_dir + ":" + env.get("PATH", "/usr/bin:/bin")
            Atspi.init()
            listener = Atspi.EventListener.new(on_showing)
            listener.register("object:state-changed:showing")
            kelmo = subprocess.Popen([KELMO], cwd=workdir, env=env)

            def application():
                desktop = Atspi.get_desktop(0)
                for i in range(desktop.get_child_count()):
                    app = desktop.get_child_at_index(i)
                    if app is not None and app.get_process_id() == kelmo.pid:
                        return app
                return None

            app = wait_until(application, 30)
            check("the window reaches the AT-SPI bus", app is not None)
            if app is None:
                return
            frame = wait_until(lambda: find(app, "frame", "Kelmo"), 20)
            check("the window is a frame named by its title", frame is not None,
                  str([(n.get_role_name(), n.get_name()) for n in descendants(app)][:5]))
            if frame is None:
                return
            body = find(frame, "text", "本文")
            save = find(frame, "push button", "メアド保存")
            own = find(frame, "text", "自分のアド")
            check("the body and the save button are there", body is not None and save is not None)
            if body is None or save is None:
                return

            def counter_name():
                for node in descendants(frame):
                    name = node.get_name() or ""
                    if node.get_role_name() == "label" and name[:1].isdigit():
                        return name
                return ""

            # An empty message already costs its fixed share: the room left is what is
            # left of the 384 bytes, before any edit as after one.
            settle(lambda: counter_name())
            check("at start: the counter's name says the true room",
                  counter_name().partition(" ")[2] == "あと333バイト", counter_name())
            check("at start: the body's description says the true room",
                  (body.get_description() or "").partition(" ")[2] == "あと333バイト",
                  body.get_description())

            body.get_editable_text_iface().insert_text(0, "a" * 333, 333)
            settle(lambda: counter_name().startswith("384 "))
            check("at the limit: the counter's name", counter_name() == "384 あと0バイト",
                  counter_name())
            check("at the limit: the body's description",
                  body.get_description() == "384 あと0バイト", body.get_description())
            check("at the limit: nothing announced", announcements() == [], str(announcements()))

            body.get_editable_text_iface().insert_text(333, "a", 1)
            settle(lambda: announcements())
            check("past it: the counter's name", counter_name() == "385 1バイト超過", counter_name())
            check("past it: the body's description",
                  body.get_description() == "385 1バイト超過" + TITLES["message"][len(TITLES["plain"]):],
                  body.get_description())
            check("past it: the frame's name", frame.get_name() == TITLES["message"],
                  frame.get_name())
            check("the crossing is announced once", announcements() == [WARNING],
                  str(announcements()))
            body.get_editable_text_iface().insert_text(334, "aa", 2)
            settle(lambda: counter_name().startswith("387 "))
            check("further keystrokes announce nothing", announcements() == [WARNING],
                  str(announcements()))
            body.get_editable_text_iface().delete_text(0, 3)
            settle(lambda: len(announcements()) >= 2)
            check("coming back is announced once",
                  announcements() == [WARNING, "全体が制限内に戻りました"], str(announcements()))

            # The subject and the own address, with the body empty: at and past 40 and 55.
            subject = find(frame, "text", "件名")
            text = body.get_text_iface()
            body.get_editable_text_iface().delete_text(0, text.get_character_count())
            settle(lambda: counter_name().startswith("51 "))
            for field, at_limit, past_limit, warning, back in [
                    (subject, "あ" * 17, "あ", SUBJECT_WARNING, "件名が制限内に戻りました"),
                    (own, "a" * 55, "a", ADDRESS_WARNING, "アドが制限内に戻りました")]:
                if field is None:
                    check(f"the field for {warning} is there", False)
                    continue
                edit = field.get_editable_text_iface()
                before = len(announcements())
                edit.insert_text(0, at_limit, len(at_limit))
                settle(lambda: field.get_text_iface().get_character_count() == len(at_limit))
                check(f"at the limit of {warning}: no warning",
                      body.get_description().endswith("バイト") and
                      len(announcements()) == before, body.get_description())
                edit.insert_text(len(at_limit), past_limit, len(past_limit))
                settle(lambda: len(announcements()) > before)
                check(f"past it: the body's description ends in {warning}",
                      body.get_description().endswith("\u3000" + warning), body.get_description())
                check(f"past {warning}: announced once", announcements()[before:] == [warning],
                      str(announcements()[before:]))
                edit.delete_text(0, len(at_limit) + len(past_limit))
                settle(lambda: len(announcements()) > before + 1)
                check(f"back within {warning}: announced once", announcements()[before:] == [warning, back],
                      str(announcements()[before:]))

            if own is not None:
                own.get_editable_text_iface().insert_text(0, "me@example.jp", 13)
            press(save)
            settle(lambda: announcements()[-1:] == ["保存しました"])
            check("a save is announced", announcements()[-1:] == ["保存しました"],
                  str(announcements()))
            check("the file was saved", os.path.exists(os.path.join(workdir, "kelmo.ini")))
            if own is None:
                return

            # A load that takes the message past 384: 351 bytes, and an own address of 55.
            load = find(frame, "push button", "メアド読込")
            clear = find(frame, "push button", "CLS")
            check("the load and CLS buttons are there", load is not None and clear is not None)
            if load is None or clear is None:
                return
            own.get_editable_text_iface().delete_text(0, own.get_text_iface().get_character_count())
            body.get_editable_text_iface().insert_text(0, "a" * 300, 300)
            settle(lambda: counter_name().startswith("351 "))
            check("before the load: 351 bytes", counter_name().startswith("351 "), counter_name())
            with open(os.path.join(workdir, "kelmo.ini"), "wb") as f:
                f.write(b"a" * 44 + b"@example.jp\r\nyou@example.jp\r\n")
            before = len(announcements())
            press(load)
            settle(lambda: len(announcements()) >= before + 2)
            check("after the load: 406 bytes", counter_name().startswith("406 "), counter_name())
            check("a load past the limit: the crossing is heard, then the load",
                  announcements()[before:] == [WARNING, "読み込みました"],
                  str(announcements()[before:]))

            before = len(announcements())
            press(clear)
            settle(lambda: len(announcements()) >= before + 2)
            check("CLS back within the limit: the return is heard, then the clearing",
                  announcements()[before:] == ["全体が制限内に戻りました", "消しました"],
                  str(announcements()[before:]))

            # Five characters: 56 bytes counted, 5 characters without J対応.
            byte_mode = find(frame, "check box", "J対応")
            check("the J対応 box is there", byte_mode is not None)
            if byte_mode is None:
                return
            body.get_editable_text_iface().insert_text(0, "hello", 5)
            settle(lambda: counter_name().startswith("56 "))
            for count, unit in [(5, "文字"), (56, "バイト")]:
                before = len(announcements())
                press(byte_mode)
                settle(lambda: len(announcements()) > before)
                check(f"J対応 toggled: the counter shows {count}",
                      counter_name().startswith(f"{count} "), counter_name())
                said = announcements()[before:]
                check(f"J対応 toggled: {count} and {unit} are heard, once",
                      len(said) == 1 and says_count(said[0], count, unit), str(said))

            # Past the limit, Ctrl+Shift+Return: the dialog, its parts, then each part as
            # it goes and the outcome.
            recipient = find(frame, "text", "相手のアド")
            check("the recipient field is there", recipient is not None)
            if recipient is None:
                return
            recipient.get_editable_text_iface().insert_text(0, "you@example.jp", 14)
            body.get_editable_text_iface().delete_text(0, text.get_character_count())
            long_body = "明日は三時から会議です。\n" + "a" * 580
            body.get_editable_text_iface().insert_text(0, long_body, len(long_body))
            settle(lambda: frame.get_name() == TITLES["message"])
            xenv = dict(os.environ, DISPLAY=display)
            xdo = lambda *args: subprocess.run(["xdotool", *args], env=xenv, capture_output=True,
                                               text=True, timeout=20).stdout.strip()
            window = wait_until(lambda: xdo("search", "--onlyvisible", "--pid",
                                            str(kelmo.pid)).split("\n")[0], 10)
            check("xdotool finds the window", bool(window))
            if not window:
                return
            xdo("windowfocus", "--sync", window)
            xdo("key", "--clearmodifiers", "ctrl+shift+Return")
            dialog = wait_until(lambda: find(app, "dialog", "分けて送信"), 20)
            check("Ctrl+Shift+Return: the dialog is heard", dialog is not None,
                  str([(n.get_role_name(), n.get_name()) for n in descendants(app)][:12]))
            if dialog is None:
                return
            parts = find(dialog, "list", "2通のメール")
            check("the dialog's list is named by the count", parts is not None,
                  str([(n.get_role_name(), n.get_name()) for n in descendants(dialog)]))
            if parts is not None:
                items = [parts.get_child_at_index(i).get_name() for i in range(parts.get_child_count())]
                check("each part is heard: its number, size and first words",
                      len(items) == 2 and items[0].startswith("1/2\u3000") and
                      "明日は三時から会議です。" in items[0] and items[1].startswith("2/2\u3000"),
                      str(items))
            before = len(announcements())
            xdo("windowfocus", "--sync", xdo("search", "--onlyvisible", "--name", "分けて送信").split("\n")[0])
            xdo("key", "--clearmodifiers", "Return")
            settle(lambda: "2通のメールを送信しました。" in announcements()[before:])
            check("the progress and the outcome are heard, in order",
                  [a for a in announcements()[before:] if "送信しました" in a] ==
                  ["1/2 送信しました", "2/2 送信しました", "2通のメールを送信しました。"],
                  str(announcements()[before:]))
            check("the stand-in sendmail got two mails", len(os.listdir(sent_dir)) == 2,
                  str(os.listdir(sent_dir)))
        finally:
            stop(kelmo)
            stop(xvfb)


main()
sys.exit(report())
