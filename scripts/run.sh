#!/usr/bin/env bash
# Starts the 32-bit Ambrelix under Wine. With a DISPLAY the window opens there
# and this returns the program's exit code when the user closes it. Without
# one it runs on a private Xvfb, saves a screenshot of the window to
# build/ambrelix.png, closes the window as a user would (WM_CLOSE) and
# reports the exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"

exe=$root/build/mingw-i686/ambrelix.exe
[ -f "$exe" ] || { echo "run: $exe is not built" >&2; exit 2; }
trap wine_env_stop EXIT

if [ -n "${DISPLAY:-}" ]; then
    KEEP_DISPLAY=1 wine_env_start
    set +e
    wine_run "$exe"
    code=$?
    set -e
    echo "run: ambrelix exited with code $code"
    exit "$code"
fi

wine_env_start 1024x768
shot=$root/build/ambrelix.png
wine_run "$exe" &
pid=$!

# Wait for the window, then for its figure to reach the screen.
deadline=$((SECONDS + 60))
win=
while [ -z "$win" ] && [ $SECONDS -lt $deadline ]; do
    win=$(xdotool search --name '^Pie\(hdc, 0, 0, xRight' 2>/dev/null | head -n 1) || true
    [ -n "$win" ] || sleep 0.2
done
[ -n "$win" ] || { echo "run: no Ambrelix window appeared" >&2; kill "$pid" 2>/dev/null; exit 1; }

magenta=0
while [ $SECONDS -lt $deadline ]; do
    import -window "$win" "$shot" 2>/dev/null || true
    # Share of exactly magenta pixels in the window.
    magenta=$(convert "$shot" -fill black +opaque '#FF00FF' -fill white -opaque '#FF00FF' \
              -colorspace Gray -format '%[fx:int(100*mean)]' info: 2>/dev/null || echo 0)
    [ "${magenta:-0}" -ge 30 ] && break
    sleep 0.2
done
[ "${magenta:-0}" -ge 30 ] || { echo "run: the figure did not appear (magenta ${magenta}%)" >&2; exit 1; }
echo "run: window $(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p'), ${magenta}% magenta;" \
     "screenshot saved to ${shot#"$root"/}"

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
