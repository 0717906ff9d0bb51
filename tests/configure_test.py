#!/usr/bin/python3
"""A plain configure needs neither GMime nor Google Benchmark, and without the tests not
GoogleTest either: what needs a missing one is skipped with a message saying so."""
import os
import subprocess
import sys
import tempfile

from app.harness import check, report

SOURCE = sys.argv[1]


def configure(*options):
    with tempfile.TemporaryDirectory() as build:
        # pkg-config as on a system without GMime; Qt asks it for other modules too.
        pkg_config = os.path.join(build, "pkg-config-without-gmime")
        with open(pkg_config, "w", encoding="utf-8") as f:
            f.write('#!/bin/sh\ncase "$*" in *gmime*) exit 1;; esac\nexec pkg-config "$@"\n')
        os.chmod(pkg_config, 0o755)
        run = subprocess.run(["cmake", "-S", SOURCE, "-B", build,
                              f"-DPKG_CONFIG_EXECUTABLE={pkg_config}", *options],
                             capture_output=True, text=True, check=False)
        return run.returncode, run.stdout + run.stderr


status, out = configure("-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON")
check("configures without Google Benchmark and GMime", status == 0, out[-2000:])
check("says the benchmarks are skipped", "the benchmarks are skipped" in out, out[-2000:])
check("says mail_fuzz is skipped", "mail_fuzz is skipped" in out, out[-2000:])

status, out = configure("-DBUILD_TESTING=OFF", "-DKELMO_BUILD_BENCH=OFF",
                        "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON")
check("configures without the tests and GoogleTest", status == 0, out[-2000:])
sys.exit(report())
