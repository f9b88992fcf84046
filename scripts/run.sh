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
source "$root/scripts/lib/wine-env.sh"
own_namespace "$@"

arch=${1:-i686}
case $arch in
i686 | x86_64) ;;
*) echo "run: ARCH is i686 or x86_64, not '$arch'" >&2; exit 2 ;;
esac
# A test gives a stand-in that draws no figure.
exe=${AMBRELIX_RUN_EXE:-$root/build/mingw-$arch/ambrelix.exe}
[ -f "$exe" ] || { echo "run: $exe is not built" >&2; exit 2; }
# Where the kept prefix and the screenshot go; a test gives a folder of its own.
out=${AMBRELIX_RUN_DIR:-$root/build}
prefix=$out/wine-prefix
wine_env_vars

# Long waits run in the background: a signal then ends this script at once.
if [ -n "${DISPLAY:-}" ]; then
    wine_env_kept "$prefix"
    # On the user's own display, windows of their own: no virtual desktop.
    wine_run reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
    wine_run "$exe" &
    code=0
    wait $! || code=$?
    echo "run: ambrelix exited with code $code"
    exit "$code"
fi

# A virtual desktop, which draws the frame and caption too.
screen=1024x768
wine_env_display "$screen"
wine_env_kept "$prefix"
wine_env_desktop "$screen"
shot=$out/ambrelix.png
wine_run "$exe" &
pid=$!

# Wait for the window, then for its figure to reach the screen.
win=$(timeout 60 xdotool search --sync --name '^Pie\(hdc, 0, 0, xRight' 2>/dev/null | head -n 1) || true
[ -n "$win" ] || fail "no Ambrelix window appeared"
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
[ "${magenta:-0}" -ge 30 ] || fail "the figure did not appear (magenta ${magenta}%)"
echo "run: window $(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p'), ${magenta}% magenta;" \
     "screenshot saved to ${shot#"$PWD"/}"

# Without /f, taskkill asks the program's windows to close (WM_CLOSE).
wine_run taskkill /im ambrelix.exe >/dev/null 2>&1 || true
timeout 10 tail --pid="$pid" -f /dev/null || fail "ambrelix did not end after WM_CLOSE"
code=0
wait "$pid" || code=$?
echo "run: ambrelix exited with code $code"
exit "$code"
