#!/usr/bin/python3
"""Starts the built kelmo in a real X server (Xvfb), checks its window and title while
typing into it with xdotool, and keeps a screenshot. Everything started is stopped by pid."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from harness import check, report, stop, titles, wait_until

KELMO, ARTIFACTS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
PLAIN = "Kelmo"
TOTAL_WARNING = titles(KELMO)["message"]


def x(env, *command):
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=30).stdout.strip()


def screenshot(display, name, size):
    os.makedirs(ARTIFACTS, exist_ok=True)
    shot = os.path.join(ARTIFACTS, name)
    if os.path.exists(shot):
        os.remove(shot)
    subprocess.run(["import", "-display", display, "-window", "root", "-crop",
                    f"{size[0]}x{size[1]}+0+0", shot], timeout=30, check=False)
    check(f"screenshot {name} saved", os.path.exists(shot), shot)


def run_window(scale, workdir):
    read_fd, write_fd = os.pipe()
    xvfb_log = open(os.path.join(workdir, f"xvfb-{scale}.log"), "w")
    # Without -noreset the server resets whenever its last client leaves, and drops a client
    # that connects meanwhile: xdpyinfo or an xdotool poll ending just as Kelmo connects
    # made Kelmo fail with "could not connect to display" on a loaded machine.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=[write_fd], stderr=xvfb_log)
    os.close(write_fd)
    kelmo = None
    try:
        with os.fdopen(read_fd) as pipe:
            display = ":" + pipe.readline().strip()
        env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
        env.update(DISPLAY=display, LANG="C.UTF-8", QT_QPA_PLATFORM="xcb")
        # Kelmo starts only once the server answers; if it never does, its log says why.
        serving = wait_until(lambda: subprocess.run(["xdpyinfo"], env=env, capture_output=True,
                                                    timeout=30).returncode == 0, 20)
        if not serving:
            xvfb_log.flush()
            check(f"Xvfb serves {display} (scale {scale})", False,
                  open(xvfb_log.name).read()[-2000:])
            return
        if scale != 1:
            env["QT_SCALE_FACTOR"] = str(scale)
        kelmo = subprocess.Popen([KELMO], cwd=workdir, env=env)
        # Qt also names an unmapped 1 x 1 helper window "Kelmo"; only the mapped one is the window.
        window = wait_until(lambda: x(env, "xdotool", "search", "--onlyvisible", "--name", "^Kelmo$").split("\n")[0],
                            20)
        xvfb_log.flush()
        check(f"window titled Kelmo appears (scale {scale})", bool(window),
              "Xvfb said: " + open(xvfb_log.name).read()[-2000:])
        if not window:
            return
        time.sleep(0.5)  # let it paint
        info = x(env, "xwininfo", "-id", window)
        size = {line.split(":")[0].strip(): line.split(":")[1].strip()
                for line in info.splitlines() if ":" in line}
        want = (422 * scale, 245 * scale)
        got = (int(size.get("Width", 0)), int(size.get("Height", 0)))
        check(f"client area is {want[0]} x {want[1]} at scale {scale}", got == want, str(got))
        if scale != 1:
            screenshot(display, f"kelmo-window-{scale}x.png", want)
            return

        x(env, "xdotool", "windowfocus", "--sync", window)
        x(env, "xdotool", "type", "--delay", "80", "こんにちは、件名テスト")
        check("title stays plain for a short Japanese body", x(env, "xdotool", "getwindowname", window) == PLAIN,
              x(env, "xdotool", "getwindowname", window))
        x(env, "xdotool", "type", "--delay", "2", "a" * 340)
        title = wait_until(lambda: x(env, "xdotool", "getwindowname", window) == TOTAL_WARNING, 30)
        check("title warns once the message is over 384 bytes", bool(title),
              x(env, "xdotool", "getwindowname", window))
        screenshot(display, "kelmo-window.png", want)

        # Tab from the body reaches EXIT; Space presses it and the program ends by itself.
        x(env, "xdotool", "windowfocus", "--sync", window)
        x(env, "xdotool", "key", "Tab", "space")
        try:
            code = kelmo.wait(30)
            check("EXIT ends the program", code == 0, f"exit code {code}")
        except subprocess.TimeoutExpired:
            check("EXIT ends the program", False, "still running")
    finally:
        if kelmo:
            stop(kelmo)
        stop(xvfb)
        xvfb_log.close()


def main():
    for tool in ("Xvfb", "xdotool", "xwininfo", "xdpyinfo", "import"):
        if not shutil.which(tool):
            print(f"FAIL missing {tool}")
            return 1
    with tempfile.TemporaryDirectory() as workdir:
        run_window(1, workdir)
        run_window(2, workdir)
    return report()


if __name__ == "__main__":
    sys.exit(main())
