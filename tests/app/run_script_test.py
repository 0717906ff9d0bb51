#!/usr/bin/python3
"""scripts/run in a tree of its own, with scripts/deps and cmake standing in for the
real ones (noisy on standard output, as they are) and the built program in place: the
program's output alone reaches standard output, and a window with no display is refused
before anything is installed or built."""
import os
import shutil
import subprocess
import sys
import tempfile

from harness import check, report

KELMO, RUN = sys.argv[1], sys.argv[2]

NOISY = """#!/bin/sh
echo "$0 $*" >>"$CALLS"
echo "[  4%] Built target kelmo_codec"
echo "-- Build files have been written to: somewhere" >&2
case "$0:$FAIL_BUILD" in *cmake:1) echo "make: *** [all] Error 2"; exit 2 ;; esac
"""

with tempfile.TemporaryDirectory() as root:
    os.makedirs(f"{root}/scripts")
    os.makedirs(f"{root}/bin")
    os.makedirs(f"{root}/build/release/src/app")
    shutil.copy(RUN, f"{root}/scripts/run")
    for stub in [f"{root}/scripts/deps", f"{root}/bin/cmake"]:
        with open(stub, "w") as f:
            f.write(NOISY)
        os.chmod(stub, 0o755)
    os.symlink(os.path.abspath(KELMO), f"{root}/build/release/src/app/kelmo")
    with open(f"{root}/body.txt", "w") as f:
        f.write("abc\n")
    calls = f"{root}/calls"
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(PATH=f"{root}/bin:" + os.environ["PATH"], CALLS=calls, FAIL_BUILD="")

    def run(*args, **extra):
        if os.path.exists(calls):
            os.remove(calls)
        return subprocess.run([f"{root}/scripts/run", *args], env=dict(env, **extra),
                              input="明日\n", capture_output=True, text=True, cwd=root)

    def called():
        return open(calls).read() if os.path.exists(calls) else ""

    measure = run("--measure", "body.txt")
    check("--measure FILE prints the measure alone", measure.stdout == "56\tKelmo\n",
          repr(measure.stdout))
    check("and exits as the program does", measure.returncode == 0, measure.stderr)
    check("after installing and building", "deps run" in called() and "--build" in called(),
          called())
    stdin = run("--own=me@example.jp", "--measure")
    check("arguments pass through, standard input too", stdin.stdout == "76\tKelmo\n",
          repr(stdin.stdout) + stdin.stderr)
    over = run("--measure", "--subject", "s" * 41, "body.txt")
    check("a message past a limit exits 1", over.returncode == 1, over.stderr)
    help_run = run("--help")
    check("--help passes through", help_run.stdout.startswith("Usage: kelmo"), help_run.stdout)

    window = run()
    check("no display: refused with 3", window.returncode == 3, window.stderr)
    check("in one line that points to --measure",
          window.stderr.count("\n") == 1 and "no display" in window.stderr
          and "scripts/run --measure FILE" in window.stderr, window.stderr)
    check("before installing or building", called() == "", called())
    check("nothing on standard output", window.stdout == "", window.stdout)
    style = run("-style", "fusion")
    check("a Qt option still asks for the window", style.returncode == 3 and called() == "",
          style.stderr)

    failed = run("--measure", "body.txt", FAIL_BUILD="1")
    check("a failed build exits 1 and shows its log's end",
          failed.returncode == 1 and "Error 2" in failed.stderr and failed.stdout == "",
          failed.stderr + failed.stdout)
    log = f"{root}/build/logs/run.log"
    check("the build's progress is kept in build/logs/run.log",
          os.path.exists(log) and "Built target" in open(log).read())
sys.exit(report())
