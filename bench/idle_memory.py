#!/usr/bin/env python3
"""Idle memory of window programs: each started in an empty directory (offscreen unless
QT_QPA_PLATFORM says otherwise), left alone for a while, its resident set read from
/proc, then ended with SIGTERM. The programs take turns, several rounds; medians.

    bench/idle_memory.py [--rounds N] [--settle S] NAME=PROGRAM ...
"""
import argparse
import os
import signal
import statistics
import subprocess
import tempfile
import time


def resident_kib(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError(f"no VmRSS for {pid}")


def idle_rss(program, settle):
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    with tempfile.TemporaryDirectory() as folder:
        with subprocess.Popen([program], cwd=folder, env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) as process:
            try:
                time.sleep(settle)
                if process.poll() is not None:
                    raise RuntimeError(f"{program} ended early ({process.returncode})")
                return resident_kib(process.pid)
            finally:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--settle", type=float, default=3.0, help="seconds before reading")
    parser.add_argument("programs", nargs="+", metavar="NAME=PROGRAM")
    args = parser.parse_args()
    programs = [entry.split("=", 1) for entry in args.programs]
    figures = {name: [] for name, _ in programs}
    for _ in range(args.rounds):
        for name, program in programs:
            figures[name].append(idle_rss(program, args.settle))
    first = statistics.median(figures[programs[0][0]])
    for name, _ in programs:
        median = statistics.median(figures[name])
        print(f"{name}: median {median:.0f} KiB = {median / 1024:.2f} MiB "
              f"({median / first:.4f} of {programs[0][0]}); "
              f"runs {', '.join(str(kib) for kib in figures[name])} KiB")


if __name__ == "__main__":
    main()
