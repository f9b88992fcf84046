#!/usr/bin/env bash
# CTest fixture of the end-to-end suite: one private Xvfb and one private,
# temporary Wine prefix for a whole preset's run.
#   wine-fixture.sh start|stop SESSION_FILE
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/wine-env.sh"
# A test of this plumbing may name a session of its own.
action=$1 session=${AMBRELIX_WINE_SESSION:-$2}

case $action in
start)
    # Large enough for a 1600x1000 client with its frame. It outlives this
    # script: "stop" ends it, or the end of scripts/test.sh's namespace.
    wine_env_start 1920x1200 detached
    # One server for the whole run. Its first program starts the desktop and
    # the services, which outlive it: start them here, away from CTest's
    # output pipes, or CTest would wait for them to close.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    wine_run reg query 'HKCU\Software\Wine\Explorer' </dev/null >/dev/null 2>&1
    wine_env_save "$session"
    echo "wine-fixture: display $DISPLAY, prefix $WINEPREFIX"
    ;;
stop)
    [ -f "$session" ] || exit 0
    source "$session"
    wine_env_stop
    rm -f "$session"
    ;;
*) echo "usage: wine-fixture.sh start|stop SESSION_FILE" >&2; exit 2 ;;
esac
