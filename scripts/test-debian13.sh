#!/usr/bin/env bash
# Runs `make test` from a clean clone of this repository's HEAD inside a
# Debian 13 root, so the project is proven on both Debian releases.
#
# The root is built once with mmdebstrap from the machine's own Debian mirror
# and kept in $AMBRELIX_ROOT_CACHE (default /var/cache/ambrelix); it is built
# again when it is older than a week, was made by another recipe, or is
# broken. It holds Debian's packages only: each run's clone is deleted
# afterwards, and a killed run's clone at the next start. Every process of
# a run (Wine, Xvfb) lives in its own PID and mount namespace, so killing the
# run ends all of them and leaves no mount behind.
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
source "$project/scripts/apt-mirror.sh"
fail() { echo "debian13: $*" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=CI,AMBRELIX_ROOT_CACHE "$0" "$@"
fi

suite=trixie
cache=${AMBRELIX_ROOT_CACHE:-/var/cache/ambrelix}/debian13
root=$cache/root
mkdir -p "$cache"
exec 9>"$cache/lock"
if ! flock -n 9; then
    echo "debian13: another run is using $root; waiting for it" >&2
    flock 9
fi

host=$(. /etc/os-release && echo "$VERSION_CODENAME")
read -r mirror signed < <(release_mirror "$host" | head -n 1) || true
read -r security security_signed < <(release_mirror "$host-security" | head -n 1) || true
[ -n "${mirror:-}" ] || fail "no apt source for '$host' to take the Debian mirror from"
[ -n "${security:-}" ] || fail "no apt source for '$host-security' to take the security mirror from"
opt() { [ -z "$1" ] || echo "[signed-by=$1] "; }
sources=("deb $(opt "${signed:-}")$mirror $suite main"
         "deb $(opt "${signed:-}")$mirror $suite-updates main"
         "deb $(opt "${security_signed:-}")$security $suite-security main")
includes=ca-certificates,git,make
recipe=$(printf '%s\n' 1 "$suite" "$includes" "${sources[@]}")

# Runs a command in new PID and mount namespaces: when it ends, or this script
# ends in any way, every process in them ends and every mount made in them is
# gone. It runs in the background so that a signal ends this script at once.
isolated() {
    setpriv --pdeathsig KILL unshare --mount --pid --fork --kill-child --mount-proc "$@" &
    wait $!
}
trap 'exit 130' INT TERM HUP

root_usable() {
    [ -f "$cache/recipe" ] && [ "$(cat "$cache/recipe")" = "$recipe" ] &&
        [ -z "$(find "$cache/recipe" -mtime +7)" ] &&
        chroot "$root" /bin/sh -c 'make --version && git --version && [ -z "$(dpkg --audit)" ]' >/dev/null 2>&1
}

if ! root_usable; then
    command -v mmdebstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mmdebstrap >/dev/null ||
        fail "cannot install mmdebstrap"
    echo "debian13: building a Debian 13 root in $root (a few minutes, once a week)" >&2
    rm -rf "$root" "$root.new" "$cache/recipe"
    start=$SECONDS
    isolated mmdebstrap --quiet --variant=minbase --include="$includes" "$suite" "$root.new" "${sources[@]}" ||
        fail "mmdebstrap could not build the root"
    mv "$root.new" "$root"
    echo "$recipe" >"$cache/recipe"
    echo "debian13: root built in $((SECONDS - start)) s" >&2
fi

# What a killed run left inside the root: its clone, Xvfb's sockets, Wine's server.
rm -rf "${root:?}"/tmp/* "$root"/tmp/.[!.]* 2>/dev/null || true
run=$root/tmp/ambrelix-run
trap 'rm -rf "$run"' EXIT
git -c safe.directory='*' clone --quiet --no-hardlinks "$project" "$run/ambrelix"
cp /etc/resolv.conf "$root/etc/resolv.conf"

isolated /bin/sh -c '
    root=$1
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="$2" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/sh -c "cd /tmp/ambrelix-run/ambrelix && echo \"debian13: \$(. /etc/os-release && echo \$PRETTY_NAME)\" && make test"
' debian13 "$root" "${CI:-}"
