#!/usr/bin/python3
"""10,000 short mails (a few hundred bytes each, Japanese and ASCII mixed, UTF-8, seeded)
measured three ways, taking turns run after run: one `kelmo --measure FILE...` call, a
shell loop running `iconv -f UTF-8 -t CP932 FILE | wc -c` per file, and a shell loop
running `kelmo --measure FILE` per file. Medians of wall time.

Usage: bench/many_mails.py path/to/kelmo [runs] [mails]"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

KELMO = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
MAILS = int(sys.argv[3]) if len(sys.argv) > 3 else 10000

PIECES = ["明日の会議は", "午後三時から", "です。", "よろしくお願いします。", "資料（アジェンダ）",
          "を印刷して", "ください！", "メールアドレスは", "taro@example.jp", " room 204 ",
          "Hello, ", "3 pm", "\n", "。", "カタカナ", "ｶﾀｶﾅ", "①", "〜"]


def run(argv):
    start = time.perf_counter()
    status = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    if status not in (0, 1):
        sys.exit(f"{argv[:3]} failed with {status}")
    return time.perf_counter() - start


with tempfile.TemporaryDirectory() as folder:
    rng = random.Random(10000)
    names = []
    total = 0
    for n in range(MAILS):
        text = ""
        while len(text.encode()) < rng.randint(150, 450):
            text += rng.choice(PIECES)
        name = os.path.join(folder, f"mail{n:05}.txt")
        with open(name, "w", encoding="utf-8") as f:
            f.write(text)
        names.append(name)
        total += len(text.encode())
    one_call = [KELMO, "--measure", *names]
    lines = subprocess.run(one_call, capture_output=True, text=True).stdout.count("\n")
    if lines != MAILS:
        sys.exit(f"one call printed {lines} lines for {MAILS} files")
    loop_iconv = ["/bin/sh", "-c",
                  f"for f in '{folder}'/*.txt; do iconv -f UTF-8 -t CP932 \"$f\" | wc -c; done"]
    loop_kelmo = ["/bin/sh", "-c", f"for f in '{folder}'/*.txt; do '{KELMO}' --measure \"$f\"; done"]
    ways = {"kelmo --measure FILE... (one call)": one_call,
            "loop: iconv | wc -c per file": loop_iconv,
            "loop: kelmo --measure per file": loop_kelmo}
    times = {way: [] for way in ways}
    for _ in range(RUNS):
        for way, argv in ways.items():
            times[way].append(run(argv))
    print(f"{MAILS} mails, {total / MAILS:.0f} bytes each on average; {RUNS} runs each, "
          "taking turns; medians of wall time")
    print("| Way | time | per mail | vs one call |")
    print("|---|---|---|---|")
    base = statistics.median(times["kelmo --measure FILE... (one call)"])
    for way, values in times.items():
        m = statistics.median(values)
        print(f"| {way} | {m * 1000:.0f} ms | {m / MAILS * 1e6:.1f} µs | {m / base:.0f}× |")
