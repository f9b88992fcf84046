#!/usr/bin/env bash
# Signs one build's package with a throwaway self-signed certificate made
# here, and checks it: osslsigncode verifies the SHA-256 signature, and the
# signed executable is left in OUT_DIR for the end-to-end suite to run. A
# wrong password and an unreadable certificate must each stop packaging with
# a message and leave nothing behind.
#   tests/checks/signing.sh BUILD_DIR OUT_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# From the project root with relative paths, as a user types them.
build=$(realpath -m --relative-to="$root" "$1") out=$(realpath -m --relative-to="$root" "$2")
cd "$root"
name=$(cat "$build/package-name.txt")
rm -rf "$out"
mkdir -p "$out/key"
key=$out/key
trap 'rm -rf "$key"' EXIT

"$root/tests/checks/throwaway-cert.sh" "$key"

expect_refusal() {
    local what=$1 dir=$out/$2 log
    shift 2
    if log=$(env "$@" scripts/package.sh "$dir" "$build" 2>&1); then
        echo "$what: packaging went on" >&2; exit 1
    fi
    echo "$what: refused: $(echo "$log" | tail -n 1)"
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
        echo "$what: left behind: $(ls -A "$dir")" >&2; exit 1
    fi
}
expect_refusal "wrong password" wrong SIGN_PKCS12="$key/cert.p12" SIGN_PASSWORD_FILE="$key/wrong"
expect_refusal "unreadable certificate" unreadable SIGN_PKCS12="$key/missing.p12" SIGN_PASSWORD_FILE="$key/password"

SIGN_PKCS12=$key/cert.p12 SIGN_PASSWORD_FILE=$key/password scripts/package.sh "$out/signed" "$build"
unzip -p "$out/signed/$name.zip" ambrelix.exe >"$out/ambrelix.exe"
if cmp -s "$out/ambrelix.exe" "$build/ambrelix.exe"; then
    echo "the packaged executable is not signed" >&2; exit 1
fi
verify=$(osslsigncode verify -CAfile "$key/cert.pem" -in "$out/ambrelix.exe" 2>&1) || {
    echo "$verify" >&2; echo "osslsigncode does not verify the signature" >&2; exit 1
}
echo "$verify" | grep -qi 'digest algorithm.*sha256' || { echo "$verify" >&2; echo "not a SHA-256 signature" >&2; exit 1; }
echo "signed: $(stat -c %s "$build/ambrelix.exe") -> $(stat -c %s "$out/ambrelix.exe") bytes, signature verified (SHA-256)"
