#!/usr/bin/python3
"""The built kelmo in a real X server (Xvfb), in character mode with a change of the body
still waiting to be written to temp.tmp, ended each way a window can end without its
close box: Ctrl+C (SIGINT) and Ctrl+Backslash (SIGQUIT) from its terminal, and the X
server killed under it. Each time temp.tmp holds the body as typed, and the program ends
without a core dump. Everything started is stopped by pid."""
import os
import resource
import signal
import subprocess
import sys
import tempfile

from harness import check, report, stop, titles, wait_until

KELMO = os.path.abspath(sys.argv[1])
TOTAL_WARNING = titles(KELMO)["message"]
# In character mode the title warns past 384 characters: the 385th shows the moment the
# window has taken the last key, well within the 300 ms a write waits.
FIRST, LAST = "a" * 384, "b"
SCRATCH_BEFORE = b"\r\n" + FIRST.encode() + b"\r\n"
SCRATCH_AFTER = b"\r\n" + (FIRST + LAST).encode() + b"\r\n"


def x(env, *command):
    return subprocess.run(command, env=env, capture_output=True, text=True,
                          timeout=30).stdout.strip()


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def shown(content):
    return "nothing" if content is None else f"{len(content)} bytes ending {content[-12:]!r}"


def no_core_dump():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def run(ending, workdir):
    folder = os.path.join(workdir, ending)
    os.mkdir(folder)
    scratch = os.path.join(folder, "temp.tmp")
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=[write_fd],
                            stderr=subprocess.DEVNULL)
    os.close(write_fd)
    kelmo = None
    try:
        with os.fdopen(read_fd) as pipe:
            display = ":" + pipe.readline().strip()
        env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
        env.update(DISPLAY=display, LANG="C.UTF-8", QT_QPA_PLATFORM="xcb")
        if not wait_until(lambda: subprocess.run(["xdpyinfo"], env=env, capture_output=True,
                                                 timeout=30).returncode == 0, 20):
            check(f"Xvfb serves {display} ({ending})", False)
            return
        err_path = os.path.join(workdir, ending + ".err")
        with open(err_path, "w") as err:
            kelmo = subprocess.Popen([KELMO], cwd=folder, env=env, stderr=err,
                                     preexec_fn=no_core_dump)
        window = wait_until(lambda: x(env, "xdotool", "search", "--onlyvisible", "--name",
                                      "^Kelmo$").split("\n")[0], 20)
        check(f"window appears ({ending})", bool(window))
        if not window:
            return
        # J対応 sits at the top right (352, 8, 57 x 24); unticking it writes temp.tmp.
        x(env, "xdotool", "mousemove", "--window", window, "380", "20", "click", "1")
        x(env, "xdotool", "windowfocus", "--sync", window)
        x(env, "xdotool", "type", "--delay", "1", FIRST)
        wrote = wait_until(lambda: read(scratch) == SCRATCH_BEFORE, 30)
        check(f"character mode writes the body to temp.tmp ({ending})", bool(wrote),
              shown(read(scratch)))
        if not wrote:
            return
        x(env, "xdotool", "type", LAST)
        taken = wait_until(
            lambda: x(env, "xdotool", "getwindowname", window) == TOTAL_WARNING, 10)
        pending = read(scratch) != SCRATCH_AFTER
        if ending == "display killed":
            xvfb.kill()
        else:
            kelmo.send_signal(getattr(signal, ending))
        check(f"the last key reached the window ({ending})", bool(taken))
        try:
            code = kelmo.wait(20)
        except subprocess.TimeoutExpired:
            code = None
        # Qt ends the program with 1 when the display goes; a signal closes it as EXIT does.
        want = 1 if ending == "display killed" else 0
        check(f"ends with {want}, not by the signal or an abort ({ending})", code == want,
              f"exit status {code}; " + open(err_path).read()[-1000:])
        check(f"temp.tmp holds the whole body ({ending})", read(scratch) == SCRATCH_AFTER,
              shown(read(scratch)))
        print(f"     the write was {'still waiting' if pending else 'made already'} "
              f"when the window was ended ({ending})", flush=True)
    finally:
        stop(kelmo)
        stop(xvfb)


def main():
    with tempfile.TemporaryDirectory() as workdir:
        for ending in ("SIGINT", "SIGQUIT", "display killed"):
            run(ending, workdir)
    return report()


if __name__ == "__main__":
    sys.exit(main())
