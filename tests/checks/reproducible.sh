#!/usr/bin/env bash
# Builds the executable twice from scratch, in two separate build folders, and
# requires byte-identical results.
#   tests/checks/reproducible.sh TOOLCHAIN_FILE WORK_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
toolchain=$1 work=$2
rm -rf "$work"
for side in first second; do
    cmake -S "$root" -B "$work/$side" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$work/$side" --target ambrelix >/dev/null
done
a=$work/first/ambrelix.exe b=$work/second/ambrelix.exe
echo "first:  $(sha256sum "$a")"
echo "second: $(sha256sum "$b")"
if cmp "$a" "$b"; then
    echo "reproducible: $(stat -c %s "$a") bytes, identical"
    rm -rf "$work"
else
    echo "not reproducible: the two builds differ" >&2
    exit 1
fi
