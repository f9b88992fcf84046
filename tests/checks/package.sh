#!/usr/bin/env bash
# Makes one build's release package twice and checks it: the same bytes both
# times, exactly the executable and the user's README inside, and the
# executable the one built. (sha256sum -c runs as typed in make-package.)
#   tests/checks/package.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# From the project root with relative paths, as a user types them.
build=$(realpath -m --relative-to="$root" "$1")
cd "$root"
work=$build/package-check
name=$(cat "$build/package-name.txt")
rm -rf "$work"
for side in first second; do
    scripts/package.sh "$work/$side" "$build" >/dev/null
done
a=$work/first/$name.zip
cmp "$a" "$work/second/$name.zip" || { echo "two runs made different archives" >&2; exit 1; }
cmp "$work/first/SHA256SUMS" "$work/second/SHA256SUMS" || { echo "two runs made different SHA256SUMS" >&2; exit 1; }
listing=$(unzip -Z1 "$a" | sort | tr '\n' ' ')
[ "$listing" = "README.txt ambrelix.exe " ] || { echo "archive holds: $listing" >&2; exit 1; }
unzip -p "$a" ambrelix.exe | cmp - "$build/ambrelix.exe" || { echo "the executable inside is not the one built" >&2; exit 1; }
unzip -p "$a" README.txt | cmp - "$root/docs/README.txt" || { echo "the README inside is not the user's" >&2; exit 1; }
echo "$name.zip: $(stat -c %s "$a") bytes, $listing, reproducible, executable matches the build"
rm -rf "$work"
