#!/usr/bin/env bash
# Installs what the build and the tests need on a supported Debian, and settles
# once how 32-bit Windows programs run here; does nothing when all is there.
set -euo pipefail
source "$(dirname "$0")/lib/apt.sh"
source "$(dirname "$0")/lib/wine-env.sh"

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
codename=$(os_release VERSION_CODENAME)
[[ " ${SUPPORTED_RELEASES[*]} " == *" $codename "* ]] ||
    echo "setup: this is $(os_release PRETTY_NAME); the project is built and tested on Debian ${SUPPORTED_RELEASES[*]}" >&2

pkgs=(cmake make g++ libgtest-dev libgmock-dev
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
      wine wine64 wine32:i386 fonts-wine xvfb xauth x11-utils xdotool imagemagick
      clang-tidy cppcheck gnuplot-nox zip unzip openssl osslsigncode)
need=()
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}" >&2
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    apt_install "${need[@]}" || exit 1
    echo "setup: installed in $SECONDS s" >&2
fi

# Wine runs 32-bit programs through its 32-bit loader, an i386 Linux program.
# Some kernels run no 32-bit user code; there qemu-user runs that loader. The
# qemu of Debian 12 itself needs some 45 s to start one 32-bit Wine program
# (it ignores Wine's address-space hints, and Wine retries ~65,000 times); the
# one in the backports suite starts it in well under a second.
binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
i386_runs() { timeout 120 "$WINE_LOADER_32" --version >/dev/null 2>&1; }

# The release's own qemu where it is new enough (Debian 13's), else backports'.
install_qemu() {
    local mirror candidate
    candidate=$(apt-cache policy qemu-user | sed -n 's/^ *Candidate: //p')
    if [ -n "$candidate" ] && [ "$candidate" != "(none)" ] && dpkg --compare-versions "$candidate" ge 1:8; then
        echo "setup: installing qemu-user to run 32-bit code" >&2
        apt_install qemu-user || fail "could not install qemu-user"
        return
    fi
    if [ -z "$(apt_mirror "$codename-backports")" ]; then
        mirror=$(apt_mirror "$codename")
        [ -n "$mirror" ] || fail "no apt source for '$codename' to take the backports mirror from"
        echo "setup: adding $codename-backports from the mirror of '$codename'" >&2
        printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
            "$mirror" "$codename" /usr/share/keyrings/debian-archive-keyring.gpg |
            as_root tee "/etc/apt/sources.list.d/$codename-backports.sources" >/dev/null
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
    [ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt" \
        || fail "cannot mount binfmt_misc to register qemu for i386 programs"
    if [ -e "$entry" ] && ! { grep -qx enabled "$entry" && grep -qx "interpreter $interpreter" "$entry" &&
                              grep -qx 'flags: ' "$entry"; }; then
        echo -1 | as_root tee "$entry" >/dev/null
    fi
    if [ ! -e "$entry" ]; then
        magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":qemu-i386:M::$magic:$mask:$interpreter:" | as_root tee "$binfmt/register" >/dev/null \
            || fail "binfmt_misc refused the qemu-i386 entry"
    fi
}

# Settled once: where 32-bit code runs already, natively or through the entry
# an earlier set-up registered, nothing is changed and no kernel-wide entry is
# switched, so tests running meanwhile are never disturbed.
if ! i386_runs; then
    qemu=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
    if [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:8; then
        install_qemu
    fi
    register_qemu_i386
    i386_runs || fail "32-bit programs cannot run here: the kernel runs no 32-bit code, and $WINE_LOADER_32 does not start through $(command -v qemu-i386) either"
fi
