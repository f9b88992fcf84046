#!/usr/bin/env bash
# Makes the release package twice and checks it: the same bytes both times,
# exactly the executable and the README inside, and the executable the one built.
#   check-package.sh BUILD_DIR PACKAGE_NAME
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 name=$2
work=$build/package-check
rm -rf "$work"
for side in first second; do
    (cd "$build" && cpack -G ZIP -B "$work/$side" >/dev/null)
done
a=$work/first/$name.zip b=$work/second/$name.zip
[ -f "$a" ] || { echo "no $name.zip made" >&2; exit 1; }
cmp "$a" "$b" || { echo "two runs made different archives" >&2; exit 1; }
listing=$(unzip -Z1 "$a" | sort | tr '\n' ' ')
[ "$listing" = "README.md ambrelix.exe " ] || { echo "archive holds: $listing" >&2; exit 1; }
unzip -p "$a" ambrelix.exe | cmp - "$build/ambrelix.exe" || { echo "the executable inside is not the one built" >&2; exit 1; }
unzip -p "$a" README.md | cmp - "$root/README.md" || { echo "the README inside is not ours" >&2; exit 1; }
echo "$name.zip: $(stat -c %s "$a") bytes, $listing, reproducible, executable matches the build"
rm -rf "$work"
