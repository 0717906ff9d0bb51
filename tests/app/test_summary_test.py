#!/usr/bin/python3
"""scripts/test's verdict: each stage's line and the closing line count the tests that
were skipped and give their reasons, read from what ctest really writes (a small project
of its own, run here: a GoogleTest skip, a script's skip code and a pass), and the fuzz
stage's line names every fuzzer; then scripts/test itself, with its stages stood in for."""
import os
import subprocess
import sys
import tempfile

from harness import check, report

SUMMARY = sys.argv[1]
TEST_SCRIPT = os.path.join(os.path.dirname(SUMMARY), "test")

# Stand-ins for what scripts/test runs: each stage passes at once, and the s390x build's
# tests write the JUnit file of the project above.
CMAKE = """#!/bin/sh
preset=$3
mkdir -p "build/$preset"
[ "$preset" != s390x ] || cp "$JUNIT_SAMPLE" "build/$preset/junit.xml"
echo "100% tests passed, 0 tests failed out of 3"
"""
STAGES = {"scripts/deps": "exit 0", "scripts/lint": "echo 'clang-tidy: no findings'",
          "fuzz/run": "echo 'Done 5 runs in 1 second(s)'; echo 'fuzzers: a_fuzz 9 runs in 1 s, "
                      "b_fuzz 5 runs in 1 s'",
          "scripts/package": "echo /tmp/kelmo_0.1.0_amd64.deb"}

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

    # scripts/test itself, its stages stood in for.
    root = f"{work}/tree"
    for folder in ["scripts", "fuzz", "bin"]:
        os.makedirs(f"{root}/{folder}")
    for name, body in {**STAGES, "bin/cmake": CMAKE}.items():
        with open(f"{root}/{name}", "w") as f:
            f.write(body if body.startswith("#!") else f"#!/bin/sh\n{body}\n")
        os.chmod(f"{root}/{name}", 0o755)
    for name in ["test", "test-summary"]:
        with open(f"{os.path.dirname(SUMMARY)}/{name}") as source, \
                open(f"{root}/scripts/{name}", "w") as f:
            f.write(source.read())
        os.chmod(f"{root}/scripts/{name}", 0o755)
    run = subprocess.run([f"{root}/scripts/test"], capture_output=True, text=True,
                         env=dict(os.environ, PATH=f"{root}/bin:" + os.environ["PATH"],
                                  JUNIT_SAMPLE=junit))
    lines = run.stdout.splitlines()
    check("scripts/test passes", run.returncode == 0, run.stdout + run.stderr)
    s390x = next((line for line in lines if line.startswith("PASS s390x")), "")
    check("its s390x line counts the stage's skips",
          s390x.endswith("100% tests passed, 0 tests failed out of 3; 2 skipped: codec.locale "
                         "(no ja_JP.SJIS locale), app.wayland (weston is not installed)"), s390x)
    dev = next((line for line in lines if line.startswith("PASS dev")), "")
    check("a stage without skips as before", dev.endswith("  100% tests passed, 0 tests failed "
                                                          "out of 3"), dev)
    fuzz = next((line for line in lines if line.startswith("PASS fuzz")), "")
    check("its fuzz line names every fuzzer", fuzz.endswith(
        "fuzzers: a_fuzz 9 runs in 1 s, b_fuzz 5 runs in 1 s"), fuzz)
    check("its closing line counts the skips with their reasons",
          lines[-1:] == ["stages: 7 passed, 0 failed; 2 tests skipped: no ja_JP.SJIS locale "
                         "(s390x), weston is not installed (s390x)"], "\n".join(lines))
sys.exit(report())
