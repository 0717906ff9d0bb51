#!/usr/bin/python3
"""A plain configure needs neither GMime, Google Benchmark nor GoogleTest: what needs a
missing one is skipped with a message saying so. A Python without the modules the tests
import is named with what it lacks."""
import os
import subprocess
import sys
import tempfile

from app.harness import check, report

SOURCE = sys.argv[1]


def configure(*options, tests=False):
    """configure's status and output, and with tests=True the tests it registered."""
    with tempfile.TemporaryDirectory() as build:
        # pkg-config as on a system without GMime; Qt asks it for other modules too.
        pkg_config = os.path.join(build, "pkg-config-without-gmime")
        with open(pkg_config, "w", encoding="utf-8") as f:
            f.write('#!/bin/sh\ncase "$*" in *gmime*) exit 1;; esac\nexec pkg-config "$@"\n')
        os.chmod(pkg_config, 0o755)
        run = subprocess.run(["cmake", "-S", SOURCE, "-B", build,
                              f"-DPKG_CONFIG_EXECUTABLE={pkg_config}", *options],
                             capture_output=True, text=True, check=False)
        out = run.stdout + run.stderr
        if not tests:
            return run.returncode, out
        listed = subprocess.run(["ctest", "--test-dir", build, "-N"],
                                capture_output=True, text=True, check=False).stdout
        return run.returncode, out, listed


# A python3 as a pyenv or virtualenv one is: no dist-packages, so neither gi nor aiosmtpd.
bare = tempfile.TemporaryDirectory()
bare_python = os.path.join(bare.name, "python3")
with open(bare_python, "w", encoding="utf-8") as f:
    f.write(f'#!/bin/sh\nexec {sys.executable} -I -S "$@"\n')
os.chmod(bare_python, 0o755)


status, out = configure("-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON",
                        f"-DPython3_EXECUTABLE={bare_python}")
check("configures without Google Benchmark and GMime", status == 0, out[-2000:])
check("says the benchmarks are skipped", "the benchmarks are skipped" in out, out[-2000:])
check("says mail_fuzz is skipped", "mail_fuzz is skipped" in out, out[-2000:])
check("says what the chosen Python lacks",
      f"{bare_python} cannot import gi and aiosmtpd" in out, out[-2000:])

status, out, listed = configure("-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON", tests=True)
check("configures with the tests on and no GoogleTest", status == 0, out[-2000:])
check("says the tests are skipped", "GoogleTest not found" in out, out[-2000:])
check("registers no test of tests/", "app.man_page" not in listed, listed[-2000:])
check("keeps the fuzzers' replays", "fuzz.measure_fuzz" in listed, listed[-2000:])

status, out = configure("-DBUILD_TESTING=OFF", "-DKELMO_BUILD_BENCH=OFF",
                        "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON")
check("configures without the tests and GoogleTest", status == 0, out[-2000:])
sys.exit(report())
