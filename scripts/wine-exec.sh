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
exec "${WINE_LOADER_CMD[@]}" "$@"
