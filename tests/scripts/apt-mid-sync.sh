#!/usr/bin/env bash
# Set-up's installs against a mirror caught mid-sync, without the network:
# apt runs as this user on a private status, private lists and two local
# suites, the release and its security suite, whose i386 index always fails
# as a half-synced mirror's does (its Release promises another size).
# Installs are only simulated.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$root/scripts/lib/common.sh"
release=$(os_release VERSION_CODENAME)

stanza() {  # NAME VERSION ARCH [FIELD...]
    printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: nobody <nobody@invalid>\n' "$1" "$2" "$3"
    [ "$3" = all ] || echo 'Multi-Arch: same'
    printf 'Filename: ./%s.deb\nSize: 1\nSHA256: %064d\nDescription: probe\n' "$1" 0
    shift 3
    printf '%s\n' "$@" ''
}
suite() {  # SUITE BROKEN-ARCH < STANZAS
    local dir=$work/repo/dists/$1 stanzas arch size
    stanzas=$(cat)
    mkdir -p "$dir"
    {
        printf 'Suite: %s\nCodename: %s\nArchitectures: amd64 i386\nComponents: main\n' "$1" "$1"
        printf 'Date: Thu, 01 Jan 2026 00:00:00 UTC\nSHA256:\n'
        for arch in amd64 i386; do
            mkdir -p "$dir/main/binary-$arch"
            awk -v arch="$arch" 'BEGIN { RS = ""; ORS = "\n\n" } $0 ~ "Architecture: (" arch "|all)\n"' \
                <<<"$stanzas" >"$dir/main/binary-$arch/Packages"
            size=$(stat -c %s "$dir/main/binary-$arch/Packages")
            [ "$arch" != "$2" ] || size=$((size + 1))
            printf ' %s %s main/binary-%s/Packages\n' "$(sha256sum <"$dir/main/binary-$arch/Packages" | cut -d' ' -f1)" \
                "$size" "$arch"
        done
    } >"$dir/Release"
}
# A Multi-Arch: same library whose update reached only the security suite's amd64 list.
suite "$release" none <<STANZAS
$(stanza probe 1.0 all; stanza libtwin 1.0 amd64; stanza libtwin 1.0 i386; stanza wanted 1.0 i386 'Depends: libtwin')
STANZAS
suite "$release-security" i386 <<STANZAS
$(stanza probe-security 1.0 all; stanza libtwin 1.1 amd64; stanza libtwin 1.1 i386)
STANZAS

mkdir -p "$work/parts" "$work/cache/archives/partial"
cat >"$work/apt.conf" <<CONF
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/parts";
Dir::State::Lists "$work/lists";
Dir::State::status "$work/status";
Dir::Cache "$work/cache";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "$(id -un)";
APT::Get::Simulate "true";
Debug::NoLocking "true";
Acquire::Languages "none";
CONF
export APT_CONFIG=$work/apt.conf APT_RETRY_PAUSE=0
source "$root/scripts/lib/apt.sh"
as_root() { "$@"; }  # apt works on the private folders above as this user

failed=0
# suites | lists from before i386 (amd64 only) | installed | packages | exit code | what set-up must say (a regex; empty: nothing)
while IFS='|' read -r suites before installed packages want says; do
    rm -rf "$work/lists" && mkdir -p "$work/lists/partial"
    sources() { for s in $suites; do echo "deb [trusted=yes$1] file:$work/repo ${s/release/$release} main"; done >"$work/sources.list"; }
    [ -z "$before" ] || { sources ' arch=amd64' && apt-get update -qq; }
    sources ''
    : >"$work/status"
    [ -z "$installed" ] || stanza ${installed/=/ } amd64 'Status: install ok installed' >"$work/status"
    code=0
    # shellcheck disable=SC2086
    ( apt_install ${packages//release/$release} ) 2>"$work/said" || code=$?
    said=$(tr '\n' ' ' <"$work/said")
    tries=$(grep -c 'apt-get update failed' "$work/said" || true)
    echo "$suites${before:+ (old amd64 lists)}${installed:+, $installed installed} -> $packages: exit $code, $tries retries; said: ${said:-nothing}"
    if [ "$code" != "$want" ] || { [ -z "$says" ] && [ -n "$said" ]; } || ! grep -qE -- "${says:-.}" <<<"${said:-.}"; then
        echo "  FAIL: wanted exit $want and ${says:-silence}" >&2
        failed=1
    fi
done <<'TABLE'
release|||probe|0|
release release-security|||probe|0|update failed \(try 2 of 3: [^)]*-security/main/binary-i386/Packages\).*did not download: file:[^ ]*/binary-i386/Packages; going on
release-security release|||probe-security|1|while this package list failed to download: file:[^ ]*binary-i386/Packages .*try again later
release|||no-such-package|1|could not install: no-such-package
release release-security|yes||libtwin wanted:i386|0|binary-i386/Packages did not download, installed [a-z]+'s own versions.*apt-get upgrade
release release-security||libtwin=1.1|libtwin wanted:i386|1|wanted:i386 : Depends: libtwin:i386.*not even [a-z]+'s own versions \(what is installed may be newer
release release-security|yes||-t release-security libtwin wanted:i386|1|could not install -t [a-z]+-security libtwin wanted:i386 while .*binary-i386/Packages \(a Debian mirror in the middle of a sync\?\); try again later
TABLE
exit $failed
