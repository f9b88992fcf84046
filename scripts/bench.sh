#!/usr/bin/env bash
# Benchmarks Ambrelix against the floor program under Wine on a private
# display large enough for a 3840x2160 client. Writes build/bench.json (every
# raw figure) and build/bench.png (repaint time against client pixels).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"

preset=mingw-i686
if ! wine_can_run_32bit || wine_32bit_emulated; then
    echo "bench: 32-bit code does not run natively here; measuring the x86_64 builds" >&2
    preset=mingw-x86_64
fi
build=$root/build/$preset

trap wine_env_stop EXIT
wine_env_start 4000x2300
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1

echo "bench: $(date -u +%Y-%m-%d), $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores," \
     "$(. /etc/os-release && echo "$PRETTY_NAME"), $(/usr/lib/wine/wine64 --version), $preset"
wine_run "$build/bench/ambrelix_bench.exe" "Z:$build/ambrelix.exe" "Z:$build/bench/ambrelix_floor.exe" \
    "Z:$root/build/mingw-i686/ambrelix.exe" "Z:$root/build/mingw-x86_64/ambrelix.exe" \
    "Z:$root/build/bench.json" "Z:$root/build/bench-repaint.dat"

gnuplot <<PLOT
set terminal pngcairo size 800,500 noenhanced
set output "$root/build/bench.png"
set title "Repaint time against client size (median of 200, $preset under Wine)"
set xlabel "client pixels (millions)"
set ylabel "ms per repaint"
set key left top
set grid
plot "$root/build/bench-repaint.dat" using (\$1/1e6):2 with linespoints lw 2 title "Ambrelix", \
     "$root/build/bench-repaint.dat" using (\$1/1e6):3 with linespoints lw 2 title "floor (erase only)"
PLOT
echo "bench: wrote build/bench.json and build/bench.png"
