#!/usr/bin/env bash
# Runs every named preset's tests as one CTest run from OUT_DIR, so the last
# lines are one summary over all of them.
#   test.sh OUT_DIR PRESET... [-- CTEST_ARGS...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The fixtures' sessions outlive the tests that start them: they end with
# this script's namespace.
source "$root/scripts/lib/wine-env.sh"
own_namespace "$@"
all=$1
shift
mkdir -p "$all"
echo "# Every preset's tests in one run." >"$all/CTestTestfile.cmake"
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    echo "subdirs(\"$root/build/$1\")" >>"$all/CTestTestfile.cmake"
    shift
done
cd "$all"
# Tests that share nothing run side by side; the tests say what they hold
# (RESOURCE_LOCK), such as a preset's desktop. Most of a test's time is spent
# waiting on another process, so more run at once than there are cores.
# In the background, so that a signal reaches this script at once. There
# CTest ignores SIGINT: this script ends it, and reports the interruption.
ctest --output-on-failure --no-tests=error -j "$(($(nproc) + 2))" "${@:2}" &
ctest=$!
# Stopped, the tests still running get SIGTERM and a few seconds to remove
# what they made (a script test's folders, its sessions' displays) before
# the namespace's end kills whatever is left. This script is the namespace's
# first process, so kill -1 reaches only the others.
others() {
    local stat line rest
    for stat in /proc/[0-9]*/stat; do
        [ "$stat" != "/proc/$$/stat" ] && read -r line <"$stat" 2>/dev/null || continue
        rest=${line##*) }
        [ "${rest%% *}" = Z ] || return 0
    done
    return 1
}
stop() {
    local i
    kill "$ctest" 2>/dev/null
    kill -TERM -1 2>/dev/null
    for ((i = 0; i < 30 * WINE_ENV_GRACE; i++)); do others || break; sleep 0.1; done
    exit "$1"
}
trap 'stop 130' INT
trap 'stop 143' TERM
trap wine_env_close EXIT
wait "$ctest"
