#!/usr/bin/env bash
# Runs every named preset's tests as one CTest run, so the last lines are one
# summary over all of them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
all=$root/build/all-tests
mkdir -p "$all"
{
    echo "# Every preset's tests in one run."
    for preset in "$@"; do echo "subdirs(\"$root/build/$preset\")"; done
} >"$all/CTestTestfile.cmake"
cd "$all"
exec ctest --output-on-failure --no-tests=error
