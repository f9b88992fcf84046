#!/usr/bin/env bash
# Starts Ambrelix under Wine. With a DISPLAY the window opens there and this
# returns the program's exit code when the user closes it. Without one it runs
# on a private Xvfb, saves a screenshot of the window to build/ambrelix.png,
# closes the window as a user would (WM_CLOSE) and reports the exit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"

exe=$root/build/mingw-i686/ambrelix.exe
wait_s=60
if ! wine_can_run_32bit; then
    echo "run: this machine runs no 32-bit code; running the x86_64 build instead" >&2
    exe=$root/build/mingw-x86_64/ambrelix.exe
elif wine_32bit_emulated; then
    echo "run: 32-bit code runs here only through qemu; the window takes a minute or two to appear" >&2
    wait_s=600
fi
[ -f "$exe" ] || { echo "run: $exe is not built" >&2; exit 2; }

trap wine_env_stop EXIT

if [ -n "${DISPLAY:-}" ]; then
    KEEP_DISPLAY=1 wine_env_start
    # The prefix turned on a virtual desktop; a real display wants real windows.
    wine_run reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w 2>/dev/null || true
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
deadline=$((SECONDS + wait_s))
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
     "screenshot saved to ${shot#$root/}"

# WM_CLOSE to the window, through the end-to-end driver's helper.
wine_run "$root/build/mingw-x86_64/tests/e2e/ambrelix_e2e.exe" post-close Ambrelix >/dev/null
set +e
code=
for _ in $(seq 1 $((wait_s * 5))); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; code=$?; break; fi
    sleep 0.2
done
set -e
[ -n "$code" ] || { echo "run: ambrelix did not end after WM_CLOSE" >&2; kill "$pid" 2>/dev/null; exit 1; }
echo "run: ambrelix exited with code $code"
exit "$code"
