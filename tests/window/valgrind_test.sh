#!/bin/sh
# Runs window tests under valgrind: it sees the editor read memory Qt has freed, which
# AddressSanitizer cannot (Qt is not built with it). Usage: valgrind_test.sh TESTS FILTER
# SUPPRESSIONS. Exit 77 (skipped) where valgrind is not installed.
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed: the window's tests under valgrind are skipped"
  exit 77
fi
exec valgrind --error-exitcode=99 --suppressions="$3" -q "$1" --gtest_filter="$2"
