#!/usr/bin/env bash
# Makes one build's release package twice and checks it: the same bytes both
# times, every entry at the one fixed time, exactly the executable and the
# user's README inside, and the executable the one built. (sha256sum -c runs as typed in make-package.)
#   tests/checks/package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# From the project root with relative paths, as a user types them.
build=$(realpath -m --relative-to="$root" "$1")
cd "$root"
work=$build/package-check
name=$(cat "$build/package-name.txt")
rm -rf "$work"
scripts/package.sh "$work/first" "$build" >/dev/null
# The second from a copy of the inputs with other times, made later than a
# ZIP's two-second clock can hide: only fixed archive times give the same bytes.
mkdir -p "$work/input"
cp "$build/package-name.txt" "$build/ambrelix.exe" "$work/input/"
touch -d '2001-02-03 04:05:06' "$work/input/ambrelix.exe"
sleep 3
scripts/package.sh "$work/second" "$work/input" >/dev/null
a=$work/first/$name.zip
times=$(TZ=UTC zipinfo -T "$a" | awk '$1 ~ /^[-d]r/ { print $(NF - 1) }' | sort -u | paste -sd ' ')
[ "$times" = 19800101.000000 ] || { echo "archive times: $times, want 19800101.000000 for every entry" >&2; exit 1; }
cmp "$a" "$work/second/$name.zip" || { echo "two runs made different archives" >&2; exit 1; }
cmp "$work/first/SHA256SUMS" "$work/second/SHA256SUMS" || { echo "two runs made different SHA256SUMS" >&2; exit 1; }
listing=$(unzip -Z1 "$a" | sort | tr '\n' ' ')
[ "$listing" = "README.txt ambrelix.exe " ] || { echo "archive holds: $listing" >&2; exit 1; }
unzip -p "$a" ambrelix.exe | cmp - "$build/ambrelix.exe" || { echo "the executable inside is not the one built" >&2; exit 1; }
unzip -p "$a" README.txt | cmp - "$root/docs/README.txt" || { echo "the README inside is not the user's" >&2; exit 1; }
echo "$name.zip: $(stat -c %s "$a") bytes, $listing, reproducible, executable matches the build"
rm -rf "$work"
