#!/usr/bin/python3
"""scripts/deps as a user without root and without sudo: one message that says what is
missing and what to do, not a shell's 'command not found'."""
import os
import subprocess
import sys
import tempfile

from harness import check, report

DEPS = sys.argv[1]

with tempfile.TemporaryDirectory() as stubs:
    os.chmod(stubs, 0o755)
    # Every package reads as missing; nothing else is on the path, sudo least of all.
    with open(os.path.join(stubs, "dpkg-query"), "w") as f:
        f.write("#!/bin/sh\nexit 1\n")
    os.chmod(os.path.join(stubs, "dpkg-query"), 0o755)
    for tool in ["bash", "env", "grep"]:
        os.symlink(f"/usr/bin/{tool}", os.path.join(stubs, tool))
    drop = [] if os.geteuid() != 0 else ["setpriv", "--reuid=65534", "--regid=65534",
                                         "--clear-groups"]
    run = subprocess.run(drop + ["/usr/bin/env", f"PATH={stubs}", DEPS, "package"],
                         capture_output=True, text=True, cwd="/")
    check("exits with 1", run.returncode == 1, f"{run.returncode}: {run.stderr}")
    check("one line", run.stderr.count("\n") == 1, run.stderr)
    check("names what is missing", "qt6-base-dev" in run.stderr and "lintian" in run.stderr,
          run.stderr)
    check("the package set has none of the test toolchain",
          not any(word in run.stderr.split() for word in
                  ["clang", "clang-tidy", "weston", "qemu-user", "g++-s390x-linux-gnu",
                   "libc6:s390x", "googletest"]), run.stderr)
    check("says what to do", "no sudo" in run.stderr and "as root" in run.stderr, run.stderr)
    check("no shell error", "not found" not in run.stderr, run.stderr)

    unknown = subprocess.run([DEPS, "everything"], capture_output=True, text=True)
    check("an unknown set is a usage error", unknown.returncode == 2 and "usage" in unknown.stderr,
          unknown.stderr)
sys.exit(report())
