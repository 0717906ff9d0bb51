#!/usr/bin/python3
"""Two builds' measure_bench side by side: the runs alternate (old, new, old, new, ...),
each with the benchmarks interleaved at random, and the CPU times of every repetition of
both are pooled into one median per benchmark and build. Prints a Markdown table with
the new build's time over the old one's.

Usage: bench/compare_builds.py OLD/measure_bench NEW/measure_bench [rounds] [filter]"""
import json
import statistics
import subprocess
import sys

OLD, NEW = sys.argv[1], sys.argv[2]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
FILTER = sys.argv[4] if len(sys.argv) > 4 else "BM_(LenMbcsRuns|ReadOnlyPass|Utf8MbcsCounter)/"


def run(binary):
    out = subprocess.run(
        [binary, f"--benchmark_filter={FILTER}", "--benchmark_repetitions=5",
         "--benchmark_enable_random_interleaving=true", "--benchmark_min_time=0.1",
         "--benchmark_format=json"], capture_output=True, text=True, check=True).stdout
    return [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]


times = {"old": {}, "new": {}}
labels = {}
for _ in range(ROUNDS):
    for build, binary in (("old", OLD), ("new", NEW)):
        for b in run(binary):
            name = b["run_name"]
            labels[name] = b.get("label", "")
            times[build].setdefault(name, []).append(b["cpu_time"])

print(f"{ROUNDS} rounds, old and new alternating; medians of CPU time (µs)")
print("| benchmark | input | old | new | new / old |")
print("|---|---|---|---|---|")
for name in sorted(times["new"]):
    new = statistics.median(times["new"][name])
    old = statistics.median(times["old"][name]) if name in times["old"] else None
    ratio = f"{new / old:.2f}" if old else ""
    old_text = f"{old:.1f}" if old else ""
    print(f"| {name} | {labels[name]} | {old_text} | {new:.1f} | {ratio} |")
