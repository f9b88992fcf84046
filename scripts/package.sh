#!/usr/bin/env bash
# Makes the release in OUT_DIR: for each build folder a ZIP with its
# executable and the user's README, and SHA256SUMS over the ZIPs. The same
# inputs give the same bytes.
#   package.sh OUT_DIR BUILD_DIR...
# With SIGN_PKCS12 (a PKCS#12 certificate file) and SIGN_PASSWORD_FILE set,
# each executable is signed (Authenticode, SHA-256) before it is zipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib/common.sh"
out=$1
shift

signing=
if [ -n "${SIGN_PKCS12:-}${SIGN_PASSWORD_FILE:-}" ]; then
    [ -n "${SIGN_PKCS12:-}" ] && [ -n "${SIGN_PASSWORD_FILE:-}" ] || fail "signing needs both SIGN_PKCS12 and SIGN_PASSWORD_FILE"
    [ -r "$SIGN_PKCS12" ] || fail "cannot read the certificate $SIGN_PKCS12"
    [ -r "$SIGN_PASSWORD_FILE" ] || fail "cannot read the password file $SIGN_PASSWORD_FILE"
    signing=1
fi

# Every path absolute from here on: zip runs inside the staging folder.
mkdir -p "$out"
out=$(cd "$out" && pwd)
builds=()
for build in "$@"; do
    [ -f "$build/package-name.txt" ] && [ -f "$build/ambrelix.exe" ] || fail "$build holds no built ambrelix.exe"
    builds+=("$(cd "$build" && pwd)")
done
stage=$(mktemp -d "$out/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
# Everything in the archive carries one fixed time: 1980-01-01, the earliest a ZIP holds.
stamp=${SOURCE_DATE_EPOCH:-315532800}

zips=()
for build in "${builds[@]}"; do
    name=$(cat "$build/package-name.txt")
    dir=$stage/$name
    mkdir -p "$dir"
    if [ -n "$signing" ]; then
        if ! osslsigncode sign -pkcs12 "$SIGN_PKCS12" -readpass "$SIGN_PASSWORD_FILE" -h sha256 \
                -n Ambrelix -in "$build/ambrelix.exe" -out "$dir/ambrelix.exe" >"$stage/sign.log" 2>&1; then
            cat "$stage/sign.log" >&2
            fail "signing $build/ambrelix.exe failed (wrong password, or not a PKCS#12 certificate with its key?)"
        fi
    else
        cp "$build/ambrelix.exe" "$dir/ambrelix.exe"
    fi
    cp "$root/docs/README.txt" "$dir/README.txt"
    touch -d "@$stamp" "$dir"/*
    rm -f "$stage/$name.zip"
    (cd "$dir" && TZ=UTC zip -X -D -q -9 "$stage/$name.zip" README.txt ambrelix.exe)
    zips+=("$name.zip")
done

# Only now, with every step done, does anything reach OUT_DIR.
for zip in "${zips[@]}"; do mv "$stage/$zip" "$out/$zip"; done
(cd "$out" && sha256sum "${zips[@]}" >SHA256SUMS)
echo "package: $(cd "$out" && ls -l "${zips[@]}" SHA256SUMS | awk '{print $NF " " $5 " bytes"}' | paste -sd ',' | sed 's/,/, /g')${signing:+, signed}"
