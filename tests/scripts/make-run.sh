#!/usr/bin/env bash
# make run as a user types it in the project root, without a display: each
# run shows the figure, saves the screenshot and ends with exit code 0; the
# kept prefix is reused, and prepared again when another Wine made it; no
# Xvfb is left behind; and nothing is written to the user's home.
set -euo pipefail
cd "$(dirname "$0")/../.."
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mark=build/wine-prefix/.made-by
failed=0

# what is done first | make's arguments | must the prefix be prepared (yes, no, either)
while IFS='|' read -r before args prepare; do
    eval "$before"
    rm -f build/ambrelix.png
    xvfbs=$(pgrep -x Xvfb | sort || true)
    code=0
    # shellcheck disable=SC2086
    log=$(HOME=$home env -u DISPLAY make run $args 2>&1) || code=$?
    said=$(grep -E '^(run|wine-env):' <<<"$log" | paste -sd ' ')
    echo "make run $args: exit $code; $said"
    prepared=no
    grep -q 'preparing a private Wine prefix' <<<"$log" && prepared=yes
    if [ "$code" != 0 ] || [ ! -s build/ambrelix.png ] || ! grep -q 'exited with code 0' <<<"$log" ||
        { [ "$prepare" != either ] && [ "$prepare" != "$prepared" ]; }; then
        echo "$log" | tail -n 20
        echo "  FAIL: wanted exit 0, a screenshot, and prepared: $prepare" >&2
        failed=1
    fi
    left=$(comm -13 <(echo "$xvfbs") <(pgrep -x Xvfb | sort || true))
    if [ -n "$left" ]; then
        echo "  FAIL: left an Xvfb running: $left" >&2
        kill $left
        failed=1
    fi
done <<'TABLE'
:||either
:||no
:|ARCH=x86_64|no
echo wine-0.0 >"$mark"||yes
TABLE
if [ -n "$(ls -A "$home")" ]; then
    echo "FAIL: written to the home folder: $(ls -A "$home")" >&2
    failed=1
fi
exit $failed
