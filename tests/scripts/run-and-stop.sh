#!/usr/bin/env bash
# The main job without a display, and stopping commands at any moment.
# - Run through: each shows the figure, saves the screenshot and ends with 0;
#   the kept prefix is reused, and prepared again when another Wine made it.
# - Stopped as a terminal's Ctrl-C does (SIGINT to the process group) or
#   terminated: it exits non-zero, and within seconds none of its processes
#   (Xvfb, Wine, CTest, the driver) nor its session are left.
# - After a kill -9 of its process group, the next run removes what
#   was left, and says so.
# Every command gets a private session folder, HOME and run folder (kept
# prefix, screenshot), so what is its own is told from everything else on the
# machine: only that is signalled, and nothing of the developer's is touched.
# (Not a private TMPDIR: Wine 10 aborts making a prefix under one.)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/lib/wine-env.sh
work=$(mktemp -d)
mkdir -p "$work/tmp" "$work/home"
box=(env -u DISPLAY AMBRELIX_SESSIONS="$work/tmp" HOME="$work/home" AMBRELIX_RUN_DIR="$work/run"
     AMBRELIX_WINE_SESSION="$work/session.env")
# Processes of the commands run here: they alone have this session folder.
ours() { grep -lzxF "AMBRELIX_SESSIONS=$work/tmp" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | paste -sd ' ' || true; }
finish() {
    local left session
    left=$(ours)
    [ -z "$left" ] || kill -9 $left 2>/dev/null
    # A killed session's display and server folder lie outside its folder.
    for session in "$work"/tmp/ambrelix-wine.*; do [ ! -d "$session" ] || wine_env_remove "$session"; done
    rm -rf "$work"
}
trap finish EXIT
# Stopped, it still ends what it started and removes its folder.
trap 'exit 130' INT
trap 'exit 143' TERM
failed=0
fail() { echo "  FAIL: $*" >&2; failed=1; }

# done first | command | a process to wait for, then the signal (KILL: the group) | prefix prepared
# | what it must say when it fails on its own (a regex)
while IFS='|' read -r before command waitfor signal prepare refusal; do
    eval "$before"
    rm -f "$work/run/ambrelix.png"
    # Job control gives the command a process group of its own, with SIGINT
    # not ignored, as a terminal's foreground job has.
    set -m
    "${box[@]}" bash -c "$command" </dev/null >"$work/log" 2>&1 &
    set +m
    group=$!
    if [ -n "$signal" ]; then
        for ((i = 0; i < 3000; i++)); do
            pgrep -g "$group" -f "$waitfor" >/dev/null && break
            kill -0 "$group" 2>/dev/null || break
            sleep 0.1
        done
        pgrep -g "$group" -f "$waitfor" >/dev/null || { cat "$work/log"; fail "$command: $waitfor never ran"; }
        if [ "$signal" = KILL ]; then
            kill -9 -- -"$group"
            sweep=expected
        else
            kill -"$signal" -- -"$group"
        fi
    fi
    code=0
    { wait "$group"; } 2>/dev/null || code=$?
    for ((i = 0; i < 100; i++)); do [ -n "$(ours)" ] || break; sleep 0.1; done
    said=$(grep -E '^(run|wine-env):' "$work/log" | paste -sd ' ' || true)
    echo "$command${signal:+ (SIG$signal after $waitfor)}: exit $code, all ended after $((i / 10)) s; $said"
    prepared=no
    grep -q 'preparing a private Wine prefix' "$work/log" && prepared=yes
    if [ -z "$signal" ] && [ -n "${sweep:-}" ]; then
        grep -q 'ended what a stopped run left' "$work/log" || fail "did not end what the killed run left"
        sweep=
    fi
    if [ -n "$signal" ]; then
        [ "$code" != 0 ] || [ "$signal" = KILL ] || fail "exit 0 after SIG$signal"
    elif [ -n "$refusal" ]; then
        [ "$code" != 0 ] && grep -qE -- "$refusal" "$work/log" || { tail -n 20 "$work/log"; fail "wanted a failure saying $refusal"; }
    elif [ "$code" != 0 ] || [ ! -s "$work/run/ambrelix.png" ] || ! grep -q 'exited with code 0' "$work/log" ||
        { [ "$prepare" != either ] && [ "$prepare" != "$prepared" ]; }; then
        tail -n 20 "$work/log"
        fail "wanted exit 0, a screenshot, and prepared: $prepare"
    fi
    # What a kill -9 leaves is for the next run to find and end.
    [ "$signal" = KILL ] && continue
    left=$(ours)
    [ -z "$left" ] || fail "left running: $(ps -o pid=,args= -p "${left// /,}")"
    [ -z "$(ls -A "$work/tmp" | grep -vx all-tests)" ] || fail "left in the session folder: $(ls -A "$work/tmp")"
    [ ! -e "$work/session.env" ] || fail "left the session file"
done <<'TABLE'
:|make run|||either
:|scripts/run.sh x86_64|||no
:|scripts/run.sh x86_64|ambrelix.exe|INT|
:|scripts/run.sh x86_64|ambrelix.exe|TERM|
:|scripts/run.sh x86_64|ambrelix.exe|KILL|
echo wine-0.0 >"$work/run/wine-prefix/.made-by"|scripts/run.sh x86_64|||yes
:|AMBRELIX_RUN_EXE=build/mingw-x86_64/bench/ambrelix_blank.exe scripts/run.sh x86_64|||no|the figure did not appear \(magenta 0%\)
:|scripts/test.sh "$AMBRELIX_SESSIONS/all-tests" mingw-x86_64 -- -R e2e|ambrelix_e2e|INT|
:|scripts/bench.sh|ambrelix_bench|INT|
TABLE
[ -z "$(ls -A "$work/home")" ] || fail "written to the home folder: $(ls -A "$work/home")"
exit $failed
