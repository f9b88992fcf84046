#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and settles once how
# 32-bit Windows programs run here; does nothing when all is there.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
source "$(dirname "$0")/apt-mirror.sh"
source "$(dirname "$0")/apt-install.sh"

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
fail() { echo "setup: $*" >&2; exit 1; }

pkgs=(cmake make g++ libgtest-dev libgmock-dev
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick
      clang-tidy cppcheck gnuplot-nox zip unzip openssl osslsigncode)
need=()
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    apt_install "${need[@]}" || exit 1
fi

# Wine runs 32-bit programs through its 32-bit loader, an i386 Linux program.
# Some kernels run no 32-bit user code; there qemu-user runs that loader. The
# qemu of Debian 12 itself needs some 45 s to start one 32-bit Wine program
# (it ignores Wine's address-space hints, and Wine retries ~65,000 times); the
# one in the backports suite starts it in well under a second.
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
i386_runs() { timeout 120 "$WINE_LOADER_32" --version >/dev/null 2>&1; }
kernel_runs_i386() {
    local was_enabled=
    if [ -e "$entry" ] && grep -qx enabled "$entry"; then
        was_enabled=1
        echo 0 | "${as_root[@]}" tee "$entry" >/dev/null
    fi
    local rc=0
    i386_runs || rc=$?
    [ -z "$was_enabled" ] || echo 1 | "${as_root[@]}" tee "$entry" >/dev/null
    return $rc
}

install_backports_qemu() {
    local codename source_file mirror signed
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    source_file=/etc/apt/sources.list.d/$codename-backports.sources
    if ! grep -rqs -- "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
        read -r mirror signed < <(release_mirror "$codename" | head -n 1) || true
        [ -n "${mirror:-}" ] || fail "no apt source for '$codename' to take the backports mirror from"
        echo "setup: adding $codename-backports from the mirror of '$codename'" >&2
        {
            echo "Types: deb"
            echo "URIs: $mirror"
            echo "Suites: $codename-backports"
            echo "Components: main"
            [ -z "${signed:-}" ] || echo "Signed-By: $signed"
        } | "${as_root[@]}" tee "$source_file" >/dev/null
    fi
    echo "setup: installing qemu-user from $codename-backports to run 32-bit code" >&2
    apt_install -t "$codename-backports" qemu-user || fail "could not install qemu-user from $codename-backports"
}

# The entry names the interpreter by path and is registered without the F
# flag, so the kernel opens whatever qemu is installed at each start: an
# upgrade takes effect at once. One left by an older set-up is replaced.
register_qemu_i386() {
    local interpreter magic mask
    interpreter=$(command -v qemu-i386) || fail "qemu-user installed no qemu-i386"
    [ -e "$binfmt/register" ] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" \
        || fail "cannot mount binfmt_misc to register qemu for i386 programs"
    if [ -e "$entry" ] && ! { grep -qx enabled "$entry" && grep -qx "interpreter $interpreter" "$entry" &&
                              grep -qx 'flags: ' "$entry"; }; then
        echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
    fi
    if [ ! -e "$entry" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":qemu-i386:M::$magic:$mask:$interpreter:" | "${as_root[@]}" tee "$binfmt/register" >/dev/null \
            || fail "binfmt_misc refused the qemu-i386 entry"
    fi
}

if kernel_runs_i386; then
    # Nothing to emulate: an i386 entry would only put qemu in the kernel's way.
    if [ -e "$entry" ]; then
        echo "setup: this kernel runs 32-bit code itself; removing the qemu-i386 entry" >&2
        echo -1 | "${as_root[@]}" tee "$entry" >/dev/null
    fi
else
    qemu=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:8; then
        install_backports_qemu
    fi
    register_qemu_i386
    i386_runs || fail "32-bit programs cannot run here: the kernel runs no 32-bit code, and $WINE_LOADER_32 does not start through $(command -v qemu-i386) either"
fi
