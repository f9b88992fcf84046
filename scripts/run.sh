#!/usr/bin/env bash
# Starts Ambrelix under Wine: the 32-bit build, or the one named.
#   run.sh [i686|x86_64]
# It runs in a private Wine prefix kept in build/wine-prefix (booted on the
# first run only; make clean removes it). With a DISPLAY the window opens
# there and this returns the program's exit code when the user closes it.
# Without one it runs on a private Xvfb, saves a screenshot of the window to
# build/ambrelix.png, closes the window as a user would (WM_CLOSE) and
# reports the exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"

arch=${1:-i686}
case $arch in
i686 | x86_64) ;;
*) echo "run: ARCH is i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac
exe=$root/build/mingw-$arch/ambrelix.exe
[ -f "$exe" ] || { echo "run: $exe is not built" >&2; exit 2; }
# Where the kept prefix and the screenshot go; a test gives a folder of its own.
out=${AMBRELIX_RUN_DIR:-$root/build}
prefix=$out/wine-prefix
wine_env_vars

# Long waits run in the background: a signal then ends this script at once.
if [ -n "${DISPLAY:-}" ]; then
    wine_env_kept "$prefix"
    wine_run "$exe" &
    code=0
    wait $! || code=$?
    echo "run: ambrelix exited with code $code"
    exit "$code"
fi

screen=1024x768
wine_env_display "$screen"
wine_env_kept "$prefix"
# A virtual desktop draws the window's frame and caption for the screenshot;
# the program joins the one that explorer opens here.
wine_run explorer "/desktop=Default,$screen" </dev/null >/dev/null 2>&1 &
wait_for_window() {
    local deadline=$((SECONDS + 60)) found=
    while [ -z "$found" ] && [ $SECONDS -lt $deadline ]; do
        found=$(xdotool search --name "$1" 2>/dev/null | head -n 1) || true
        [ -n "$found" ] || sleep 0.05
    done
    echo "$found"
}
[ -n "$(wait_for_window 'Wine desktop$')" ] || { echo "run: Wine's desktop did not open" >&2; exit 1; }
shot=$out/ambrelix.png
wine_run "$exe" &
pid=$!

# Wait for the window, then for its figure to reach the screen.
win=$(wait_for_window '^Pie\(hdc, 0, 0, xRight')
[ -n "$win" ] || { echo "run: no Ambrelix window appeared" >&2; kill "$pid" 2>/dev/null; exit 1; }
magenta=0
deadline=$((SECONDS + 30))
while [ $SECONDS -lt $deadline ]; do
    import -window "$win" "$shot" 2>/dev/null || true
    # Share of exactly magenta pixels in the window.
    magenta=$(convert "$shot" -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
              -colorspace Gray -format '%[fx:int(100*mean)]' info: 2>/dev/null || echo 0)
    [ "${magenta:-0}" -ge 30 ] && break
    sleep 0.1
done
[ "${magenta:-0}" -ge 30 ] || { echo "run: the figure did not appear (magenta ${magenta}%)" >&2; exit 1; }
echo "run: window $(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p'), ${magenta}% magenta;" \
     "screenshot saved to ${shot#"$PWD"/}"

# Without /f, taskkill asks the program's windows to close (WM_CLOSE).
wine_run taskkill /im ambrelix.exe >/dev/null 2>&1 || true
set +e
code=
for _ in $(seq 1 100); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; code=$?; break; fi
    sleep 0.1
done
set -e
[ -n "$code" ] || { echo "run: ambrelix did not end after WM_CLOSE" >&2; kill "$pid" 2>/dev/null; exit 1; }
echo "run: ambrelix exited with code $code"
exit "$code"
