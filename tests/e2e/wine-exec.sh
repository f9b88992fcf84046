#!/usr/bin/env bash
# CTest's emulator for the cross-built tests: runs a Windows program in the
# Wine session that wine-fixture.sh started.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
session=${AMBRELIX_WINE_SESSION:-$1}
shift
if [ ! -f "$session" ]; then
    echo "wine-exec: no Wine session ($session); run the whole preset so its fixture starts one" >&2
    exit 1
fi
source "$session"
exec "$WINELOADER" "$@"
