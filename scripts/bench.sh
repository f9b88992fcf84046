#!/usr/bin/env bash
# Benchmarks both builds of Ambrelix against the floor program under Wine on
# a private display large enough for a 3840x2160 client. Writes, per build,
# build/bench-ARCH.json (every raw figure) and build/bench-ARCH.png (repaint
# time against client pixels).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/wine-env.sh"
own_namespace "$@"

wine_env_start 4000x2300
"$WINESERVER" -p </dev/null >/dev/null 2>&1

for arch in i686 x86_64; do
    build=$root/build/mingw-$arch
    echo "bench: $(date -u +%Y-%m-%d), $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores," \
         "$(os_release PRETTY_NAME), $(wine_run --version), $arch"
    # In the background, so that a signal ends this script at once.
    wine_run "$build/bench/ambrelix_bench.exe" "Z:$build/ambrelix.exe" "Z:$build/bench/ambrelix_floor.exe" \
        "Z:$root/build/mingw-i686/ambrelix.exe" "Z:$root/build/mingw-x86_64/ambrelix.exe" \
        "Z:$root/build/bench-$arch.json" "Z:$root/build/bench-repaint-$arch.dat" &
    wait $! || { echo "bench: $arch: a check failed (see above), so its figures cannot be trusted" >&2; exit 1; }

    gnuplot <<PLOT
set terminal pngcairo size 800,500 noenhanced
set output "$root/build/bench-$arch.png"
set title "Repaint time against client size (median of 200, $arch under Wine)"
set xlabel "client pixels (millions)"
set ylabel "ms per repaint"
set key left top
set grid
plot "$root/build/bench-repaint-$arch.dat" using (\$1/1e6):2 with linespoints lw 2 title "Ambrelix", \
     "$root/build/bench-repaint-$arch.dat" using (\$1/1e6):3 with linespoints lw 2 title "floor (erase only)"
PLOT
    echo "bench: wrote build/bench-$arch.json and build/bench-$arch.png"
done
