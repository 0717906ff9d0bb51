#!/usr/bin/python3
"""Starts the built kelmo natively on Wayland, under a headless weston (a real compositor),
at output scales 1 and 2. The client's own protocol log (WAYLAND_DEBUG) shows what it
told the compositor and what the compositor answered: the title, the window geometry,
the size of the buffers it drew into, and the compositor placing the surface on its
output. Qt draws its own frame on weston; without it the surface is the client area
itself, so its geometry is the client area's. A weston-screenshooter capture is kept.
Exits 77 (skipped) where weston is missing."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from harness import check, report, stop, wait_until

KELMO, ARTIFACTS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])





def run_window(scale, runtime, workdir):
    socket = f"kelmo-test-{scale}"
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("QT_", "WAYLAND_")) and k != "DISPLAY"}
    env.update(XDG_RUNTIME_DIR=runtime, LANG="C.UTF-8")
    weston_log = open(os.path.join(workdir, f"weston-{scale}.log"), "w")
    weston = subprocess.Popen(["weston", "--backend=headless-backend.so", "--use-pixman",
                               f"--socket={socket}", "--idle-time=0", "--width=1000",
                               "--height=700", f"--scale={scale}", "--debug"],
                              env=env, stdout=weston_log, stderr=subprocess.STDOUT)
    kelmo = None
    try:
        if not wait_until(lambda: os.path.exists(os.path.join(runtime, socket)), 20):
            check(f"weston starts (scale {scale})", False, open(weston_log.name).read()[-2000:])
            return
        env.update(WAYLAND_DISPLAY=socket, QT_QPA_PLATFORM="wayland",
                   QT_WAYLAND_DISABLE_WINDOWDECORATION="1", WAYLAND_DEBUG="client")
        log_path = os.path.join(workdir, f"kelmo-{scale}.log")
        with open(log_path, "w") as log:
            kelmo = subprocess.Popen([KELMO], cwd=workdir, env=env, stdout=log, stderr=log)
        want = (422 * scale, 245 * scale)
        patterns = {
            "title": r'xdg_toplevel@\d+\.set_title\("Kelmo"\)',
            "geometry": r"xdg_surface@\d+\.set_window_geometry\(0, 0, 422, 245\)",
            "buffer": rf"create_buffer\(new id wl_buffer@\d+, \d+, {want[0]}, {want[1]},",
            "on the output": r"wl_surface@\d+\.enter\(wl_output@\d+\)",
        }
        read_log = lambda: open(log_path, errors="replace").read()
        wait_until(lambda: all(re.search(p, read_log()) for p in patterns.values())
                   or kelmo.poll() is not None, 30)
        text = read_log()
        check(f"kelmo runs natively on Wayland (scale {scale})", kelmo.poll() is None,
              text[-2000:])
        check(f"window titled Kelmo (scale {scale})", bool(re.search(patterns["title"], text)))
        check(f"client area is 422 x 245 (scale {scale})",
              bool(re.search(patterns["geometry"], text)),
              str(re.findall(r"set_window_geometry\([^)]*\)", text)))
        check(f"drawn into {want[0]} x {want[1]} buffers (scale {scale})",
              bool(re.search(patterns["buffer"], text)),
              str(re.findall(r"create_buffer\([^)]*\)", text)[:3]))
        check(f"the compositor shows it on its output (scale {scale})",
              bool(re.search(patterns["on the output"], text)))
        if scale == 1:
            time.sleep(0.5)  # let it paint
            os.makedirs(ARTIFACTS, exist_ok=True)
            before = set(os.listdir(workdir))
            subprocess.run(["weston-screenshooter"], cwd=workdir, env=env, timeout=30,
                           check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shots = [f for f in set(os.listdir(workdir)) - before if f.endswith(".png")]
            if shots:
                shutil.move(os.path.join(workdir, shots[0]),
                            os.path.join(ARTIFACTS, "kelmo-wayland.png"))
            check("screenshot kelmo-wayland.png saved", bool(shots))
    finally:
        stop(kelmo)
        stop(weston)
        weston_log.close()


def main():
    if shutil.which("weston") is None:
        print("SKIP: weston is not installed (Debian package weston); the Wayland window "
              "is not checked", flush=True)
        return 77
    with tempfile.TemporaryDirectory() as runtime, tempfile.TemporaryDirectory() as workdir:
        os.chmod(runtime, 0o700)
        for scale in (1, 2):
            run_window(scale, runtime, workdir)
    return report()


sys.exit(main())
