#!/usr/bin/env bash
# CTest's emulator for the cross-built tests: runs a Windows program in the
# Wine session that wine-fixture.sh started. Exit code 77 marks a skip.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
session=$1
shift
if [ ! -f "$session" ]; then
    echo "wine-exec: no Wine session ($session); run the whole preset so its fixture starts one" >&2
    exit 1
fi
source "$session"
if [ -n "${AMBRELIX_WINE_SKIP:-}" ]; then
    echo "SKIPPED: $AMBRELIX_WINE_SKIP"
    exit 77
fi
if [ -n "${AMBRELIX_WINE_EMULATED:-}" ]; then
    # Each 32-bit start costs most of a minute under qemu: run only the smoke test.
    if [ "${2:-}" != smoke ]; then
        echo "SKIPPED: 32-bit code runs here only through qemu; this case runs where it runs natively"
        exit 77
    fi
    export AMBRELIX_E2E_SLOW=1
fi
exec "${WINE_LOADER_CMD[@]}" "$@"
