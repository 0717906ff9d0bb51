#!/usr/bin/python3
"""`kelmo --measure FILE` against `iconv -f UTF-8 -t CP932 FILE | wc -c`, whole processes,
on 64 MiB of Japanese prose and of ASCII mail (UTF-8, LF line breaks). The two commands
take turns, run after run; the medians of the wall times are compared. Kelmo's peak
resident memory is read by GNU time (a child started from this script would count the
script's own memory too).

With a second kelmo (another build, say the one before a change), it takes its turn too,
and its time is printed beside.

Usage: bench/measure_command_vs_iconv.py path/to/kelmo [runs] [path/to/other/kelmo]"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

KELMO = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 9
OTHER = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
SIZE = 64 << 20

PROSE = ("明日の会議は午後三時からに変更になりました。場所は第二会議室です。"
         "資料（アジェンダ v2）を印刷して持ってきてください！メールアドレスは"
         "taro@example.jp です。よろしくお願いします。\n").encode()
ASCII = (b"Hello Taro,\nThe meeting moves to 3 pm on Friday, room 204.\n"
         b"Please bring the printed agenda (v2) and your notes.\nRegards, Hanako\n\n")


def run(argv):
    """Wall seconds of one run, output discarded."""
    start = time.perf_counter()
    status = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    if status not in (0, 1):  # 1: past a limit, as these bodies are
        sys.exit(f"{argv} failed with {status}")
    return time.perf_counter() - start


def peak_kib(argv):
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    return int(result.stderr.split()[-1])


with tempfile.TemporaryDirectory() as folder:
    print(f"{RUNS} runs each, taking turns; medians of wall time")
    other_head = " other kelmo | other faster |" if OTHER else ""
    print(f"| Input | kelmo --measure | iconv \\| wc -c | kelmo faster | kelmo peak memory |{other_head}")
    print("|---|---|---|---|---|" + ("---|---|" if OTHER else ""))
    for name, piece in (("Japanese prose", PROSE), ("ASCII mail", ASCII)):
        path = os.path.join(folder, "body.txt")
        with open(path, "wb") as f:
            f.write(piece * (SIZE // len(piece)))
        kelmo = [KELMO, "--measure", path]
        pipeline = ["/bin/sh", "-c", f"iconv -f UTF-8 -t CP932 '{path}' | wc -c"]
        other = [OTHER, "--measure", path] if OTHER else None
        run(kelmo), run(pipeline)  # page cache and libraries warm
        kelmo_times, pipeline_times, other_times = [], [], []
        for _ in range(RUNS):
            kelmo_times.append(run(kelmo))
            pipeline_times.append(run(pipeline))
            if other:
                other_times.append(run(other))
        peak = peak_kib(kelmo)
        k, p = statistics.median(kelmo_times), statistics.median(pipeline_times)
        other_cells = ""
        if other:
            o = statistics.median(other_times)
            other_cells = f" {o * 1000:.1f} ms | {p / o:.1f}× |"
        print(f"| {name} | {k * 1000:.1f} ms | {p * 1000:.1f} ms | {p / k:.1f}× | {peak / 1024:.1f} MiB |{other_cells}")
