#!/usr/bin/env bash
# The Makefile's release lines as docs/releasing.md types them in the project root:
# make package signed (a throwaway certificate, relative paths), then plain,
# and the downloader's sha256sum -c. What each archive holds, its bytes and
# the signature itself are checked per build (tests/checks).
set -euo pipefail
cd "$(dirname "$0")/../.."
keys=build/throwaway-keys
trap 'rm -rf "$keys"' EXIT
tests/checks/throwaway-cert.sh "$keys"

make package SIGN_PKCS12="$keys/cert.p12" SIGN_PASSWORD_FILE="$keys/password"
for arch in i686 x86_64; do
    name=$(cat "build/mingw-$arch/package-name.txt")
    # Read out first: a missing archive or member must fail, not compare as different.
    unzip -p "build/packages/$name.zip" ambrelix.exe >"$keys/$arch.exe" ||
        { echo "FAIL: $name.zip holds no ambrelix.exe" >&2; exit 1; }
    ! cmp -s "$keys/$arch.exe" "build/mingw-$arch/ambrelix.exe" ||
        { echo "FAIL: make package with SIGN_PKCS12 did not sign $name" >&2; exit 1; }
done
# Leave what a plain make package makes.
make package
(cd build/packages && sha256sum -c SHA256SUMS)
