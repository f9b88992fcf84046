#!/usr/bin/env bash
# The release commands as the README gives them, typed in the project root:
# make package, sha256sum -c in build/packages, a signed make package with
# relative paths to a throwaway certificate, and osslsigncode verify.
set -euo pipefail
cd "$(dirname "$0")/../.."
keys=build/throwaway-keys
rm -rf "$keys"
trap 'rm -rf "$keys"' EXIT
tests/scripts/throwaway-cert.sh "$keys"

check_sums() { (cd build/packages && sha256sum -c SHA256SUMS); }

make package
check_sums
make package SIGN_PKCS12="$keys/cert.p12" SIGN_PASSWORD_FILE="$keys/password"
check_sums
for zip in build/packages/*.zip; do
    rm -rf "$keys/unpacked" && mkdir -p "$keys/unpacked"
    unzip -q "$zip" -d "$keys/unpacked"
    (cd "$keys/unpacked" && osslsigncode verify -CAfile ../cert.pem -in ambrelix.exe | grep -i 'signature verification: ok')
done
# Leave what a plain make package makes.
make package
check_sums
