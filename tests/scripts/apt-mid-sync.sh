#!/usr/bin/env bash
# Set-up's installs against a mirror caught mid-sync, without the network:
# apt runs on private lists from two local repositories, one of which always
# fails its index as a half-synced mirror does (its Release promises another
# size), and installs are only simulated.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repo() {  # repo DIR PACKAGE [broken]
    mkdir -p "$1"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: all\nMaintainer: nobody <nobody@invalid>\nFilename: ./%s.deb\nSize: 1\nSHA256: %064d\nDescription: probe\n' \
        "$2" "$2" 0 >"$1/Packages"
    local size
    size=$(stat -c %s "$1/Packages")
    [ -z "${3:-}" ] || size=$((size + 1))
    printf 'Date: Thu, 01 Jan 2026 00:00:00 UTC\nSHA256:\n %s %s Packages\n' "$(sha256sum <"$1/Packages" | cut -d' ' -f1)" \
        "$size" >"$1/Release"
}
repo "$work/good" ambrelix-probe
repo "$work/syncing" ambrelix-probe-syncing broken
mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial"
cat >"$work/apt.conf" <<CONF
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/parts";
Dir::State::Lists "$work/lists";
Dir::Cache "$work/cache";
APT::Sandbox::User "$(id -un)";
APT::Get::Simulate "true";
Debug::NoLocking "true";
Acquire::Languages "none";
CONF
export APT_CONFIG=$work/apt.conf APT_RETRY_PAUSE=0
source "$root/scripts/apt-install.sh"
as_root=()  # apt works on the private folders above as this user

failed=0
# sources, package, expected exit code, what set-up must say (a regex; empty: nothing)
while IFS='|' read -r sources package want says; do
    rm -rf "$work/lists"/* && mkdir -p "$work/lists/partial"
    : >"$work/sources.list"
    for s in $sources; do echo "deb [trusted=yes] file:$work/$s ./" >>"$work/sources.list"; done
    code=0
    ( apt_install "$package" ) 2>"$work/said" || code=$?
    said=$(tr '\n' ' ' <"$work/said")
    tries=$(grep -c 'apt-get update failed' "$work/said" || true)
    echo "$sources -> $package: exit $code, $tries retries; said: ${said:-nothing}"
    if [ "$code" != "$want" ] || { [ -z "$says" ] && [ -n "$said" ]; } || ! grep -qE -- "${says:-.}" <<<"${said:-.}"; then
        echo "  FAIL: wanted exit $want and ${says:-silence}" >&2
        failed=1
    fi
done <<'TABLE'
good|ambrelix-probe|0|
good syncing|ambrelix-probe|0|update failed \(try 2 of 3: [^)]*/syncing/\./Packages\).*did not download: file:[^ ]*/syncing/\./Packages; going on
syncing good|ambrelix-probe-syncing|1|while this package list failed to download: file:[^ ]*/syncing/\./Packages .*try again later
good|no-such-package|1|could not install: no-such-package
TABLE
exit $failed
