#!/usr/bin/env bash
# CTest fixture of the end-to-end suite: one private Xvfb and one private,
# temporary Wine prefix for a whole test run.
#   wine-fixture.sh start SESSION_FILE DRIVER_EXE
#   wine-fixture.sh stop SESSION_FILE
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
action=$1 session=$2

case $action in
start)
    if [ "$(pe_machine "$3")" = 014c ] && ! wine_can_run_32bit; then
        echo "AMBRELIX_WINE_SKIP='this machine runs no 32-bit code (the kernel has 32-bit emulation off)'" >"$session"
        echo "wine-fixture: 32-bit programs cannot run here; their tests will be skipped"
        exit 0
    fi
    # Large enough for a 1600x1000 client with its frame.
    wine_env_start 1920x1200
    # One server for the whole run. Its first program starts the desktop and
    # the services, which outlive it: start them here, away from CTest's
    # output pipes, or CTest would wait for them to close.
    /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    wine_run reg query 'HKCU\Software\Wine\Explorer' </dev/null >/dev/null 2>&1
    wine_env_save "$session"
    if [ "$(pe_machine "$3")" = 014c ] && wine_32bit_emulated; then
        echo "AMBRELIX_WINE_EMULATED=1" >>"$session"
        echo "wine-fixture: 32-bit code runs here only through qemu; the 32-bit suite is cut to its smoke test"
    fi
    echo "wine-fixture: display $DISPLAY, prefix $WINEPREFIX"
    ;;
stop)
    [ -f "$session" ] || exit 0
    source "$session"
    wine_env_stop
    rm -f "$session"
    ;;
*)
    echo "usage: wine-fixture.sh start|stop SESSION_FILE [DRIVER_EXE]" >&2
    exit 2
    ;;
esac
