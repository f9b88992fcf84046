#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12; does nothing when all is there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake make g++ libgtest-dev libgmock-dev
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick
      clang-tidy cppcheck gnuplot-nox zip unzip)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done
if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi

if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Wine runs 32-bit programs through its 32-bit loader, an i386 Linux program.
# A kernel booted with 32-bit emulation off refuses it; then let qemu run
# i386 programs instead (slowly, but for real).
i386_runs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if ! i386_runs; then
    binfmt=/proc/sys/fs/binfmt_misc
    have_pkg qemu-user || {
        echo "setup: this kernel runs no 32-bit code; installing qemu-user to run it" >&2
        "${as_root[@]}" apt-get install -y -qq --no-install-recommends qemu-user >/dev/null 2>&1 || {
            "${as_root[@]}" apt-get update -qq
            "${as_root[@]}" apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
        }
    }
    [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
    if [ -e "$binfmt/register" ] && [ ! -e "$binfmt/qemu-i386" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:F" | "${as_root[@]}" tee "$binfmt/register" >/dev/null || true
    fi
    i386_runs || echo "setup: 32-bit programs cannot run here; their end-to-end tests will be skipped" >&2
fi
