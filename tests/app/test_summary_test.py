#!/usr/bin/python3
"""scripts/test's verdict: each stage's line and the closing line count the tests that
were skipped and give their reasons, read from what ctest really writes (a small project
of its own, run here: a GoogleTest skip, a script's skip code and a pass), and the fuzz
stage's line names every fuzzer."""
import os
import subprocess
import sys
import tempfile

from harness import check, report

SUMMARY = sys.argv[1]

PROJECT = r"""cmake_minimum_required(VERSION 3.25)
project(verdict NONE)
enable_testing()
add_test(NAME codec.locale COMMAND sh -c "echo '[ RUN      ] codec.locale'; echo 'codec_test.cpp:121: Skipped'; echo 'no ja_JP.SJIS locale'; echo; echo '[  SKIPPED ] codec.locale (0 ms)'")
set_tests_properties(codec.locale PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
add_test(NAME app.wayland COMMAND sh -c "echo 'SKIP: weston is not installed'; exit 77")
set_tests_properties(app.wayland PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME app.passes COMMAND true)
"""


def summary(*args):
    run = subprocess.run([SUMMARY, *args], capture_output=True, text=True)
    check(f"{args[0]} {args[1]} runs", run.returncode == 0, run.stderr)
    return run.stdout.rstrip("\n")


with tempfile.TemporaryDirectory() as work:
    os.makedirs(f"{work}/src")
    with open(f"{work}/src/CMakeLists.txt", "w") as f:
        f.write(PROJECT)
    subprocess.run(["cmake", "-S", f"{work}/src", "-B", f"{work}/build"], check=True,
                   capture_output=True)
    ctest = subprocess.run(["ctest", "--test-dir", f"{work}/build", "--output-junit",
                            "junit.xml"], capture_output=True, text=True)
    log = f"{work}/dev.log"
    with open(log, "w") as f:
        f.write(ctest.stdout)
    junit = f"{work}/build/junit.xml"
    skips = f"{work}/skipped.tsv"

    dev = summary("stage", "dev", log, junit, skips)
    check("the stage line keeps ctest's verdict", dev.startswith("100% tests passed"), dev)
    check("and counts the skipped tests with their reasons",
          "2 skipped: codec.locale (no ja_JP.SJIS locale), app.wayland (weston is not installed)"
          in dev, dev)
    asan = summary("stage", "asan", log, junit, skips)
    check("each stage counts its own", asan == dev, asan)

    # A stage with nothing skipped says no more than before.
    clean_log = f"{work}/lint.log"
    with open(clean_log, "w") as f:
        f.write("clang-tidy: 40 files\nlint: no findings\n")
    lint = summary("stage", "lint", clean_log, f"{work}/none.xml", skips)
    check("a stage without skips", lint == "lint: no findings", lint)

    fuzz_log = f"{work}/fuzz.log"
    with open(fuzz_log, "w") as f:
        f.write("--- address_file_fuzz\nDone 1000000 runs in 20 second(s)\n--- utf8_fuzz\n"
                "Done 12338 runs in 61 second(s)\n"
                "fuzzers: address_file_fuzz 1000000 runs in 20 s, utf8_fuzz 12338 runs in 61 s\n")
    fuzz = summary("stage", "fuzz", fuzz_log, skips)
    check("the fuzz stage names every fuzzer with its runs",
          fuzz == "fuzzers: address_file_fuzz 1000000 runs in 20 s, utf8_fuzz 12338 runs in 61 s",
          fuzz)
    no_clang = f"{work}/fuzz2.log"
    with open(no_clang, "w") as f:
        f.write("SKIPPED: clang++ not found: no fuzzer run\n")
    fuzz2 = summary("stage", "fuzz", no_clang, skips)
    check("a stage that could not run is a skip too",
          fuzz2 == "1 skipped: fuzz (clang++ not found: no fuzzer run)", fuzz2)

    closing = summary("close", "7", "0", skips)
    check("the closing line starts as before", closing.startswith("stages: 7 passed, 0 failed; "),
          closing)
    check("and counts every skip, each reason once with its stages",
          closing.endswith("; 5 tests skipped: no ja_JP.SJIS locale (dev asan), "
                           "weston is not installed (dev asan), "
                           "clang++ not found: no fuzzer run (fuzz)"), closing)
    os.remove(skips)
    nothing = summary("close", "6", "1", skips)
    check("without skips, the closing line alone", nothing == "stages: 6 passed, 1 failed",
          nothing)
sys.exit(report())
