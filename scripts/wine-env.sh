# Sourced by every script that runs Windows programs. Names Wine once, and
# gives a session a private X display and a private Wine prefix, never the
# user's own: a temporary one for the tests, or one kept between runs.
#
#   wine_env_start [WIDTHxHEIGHT]   start Xvfb and boot a temporary prefix with a virtual desktop
#   wine_env_vars                   begin a session that wine_env_kept and wine_env_display build on
#   wine_env_kept PREFIX            use PREFIX, booted once and kept; held for this shell alone
#   wine_env_display [WIDTHxHEIGHT] start Xvfb for the session
#   wine_run ARGS...                run a Windows program (either word size) in the session
#   wine_env_save FILE              write what a later command needs to join the session
#   wine_env_stop                   end every Wine process and Xvfb; delete a temporary prefix

WINE_DIR=/usr/lib/wine
# The 64-bit loader starts 32-bit programs through the 32-bit one, an i386 program.
export WINELOADER=$WINE_DIR/wine64 WINESERVER=$WINE_DIR/wineserver
WINE_LOADER_32=$WINE_DIR/wine
WINE_FONT_DIR=/usr/share/wine/fonts

# Wine's processes outlive a run; they must not hold its lock.
wine_run() {
    if [ -n "${WINE_ENV_LOCK:-}" ]; then "$WINELOADER" "$@" {WINE_ENV_LOCK}>&-; else "$WINELOADER" "$@"; fi
}

wine_env_vars() {
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/ambrelix-wine.XXXXXX")
    WINE_ENV_XVFB_PID=
}

wine_env_display() {
    local screen=${1:-1280x1024} fifo=$WINE_ENV_DIR/displayfd number
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$fifo" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
    WINE_ENV_XVFB_PID=$!
    if ! read -r -t 20 number <"$fifo"; then
        echo "wine-env: Xvfb did not start" >&2
        cat "$WINE_ENV_DIR/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=:$number
}

wine_env_boot() {
    if ! wine_run wineboot -i >"$WINE_ENV_DIR/wineboot.log" 2>&1; then
        echo "wine-env: wineboot failed" >&2
        cat "$WINE_ENV_DIR/wineboot.log" >&2
        return 1
    fi
    # Wine looks for its own fonts (Marlett draws the caption buttons) only in
    # the prefix here, and a new prefix has none.
    cp "$WINE_FONT_DIR"/* "$WINEPREFIX/drive_c/windows/Fonts/"
    "$WINESERVER" -w
}

wine_env_start() {
    local screen=${1:-1280x1024}
    wine_env_vars
    export WINEPREFIX=$WINE_ENV_DIR/prefix
    wine_env_display "$screen" || return 1
    wine_env_boot || return 1
    # A virtual desktop gives every window a Windows frame and caption, and a
    # screen that stays put whatever the X server does.
    wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen" /f >/dev/null 2>&1
    # Windows shows a window's contents while it is dragged; Wine's default
    # is an outline only.
    wine_run reg add 'HKCU\Control Panel\Desktop' /v DragFullWindows /d 1 /f >/dev/null 2>&1
    "$WINESERVER" -w
}

# The prefix is booted again when it is missing, half made (its mark is
# written last) or made by another Wine. One shell at a time uses it: a
# second waits, and says so.
wine_env_kept() {
    export WINEPREFIX=$1
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec {WINE_ENV_LOCK}>"$WINEPREFIX.lock"
    if ! flock -n "$WINE_ENV_LOCK"; then
        echo "wine-env: another run is using $WINEPREFIX; waiting until it ends" >&2
        flock "$WINE_ENV_LOCK"
    fi
    local mark=$WINEPREFIX/.made-by version
    version=$(wine_run --version)
    [ "$(cat "$mark" 2>/dev/null)" != "$version" ] || return 0
    echo "wine-env: preparing a private Wine prefix in $WINEPREFIX, first run only (about 20 s)" >&2
    rm -rf "$WINEPREFIX"
    wine_env_boot || return 1
    echo "$version" >"$mark"
}

wine_env_save() {
    {
        printf 'export DISPLAY=%q WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q\n' \
            "$DISPLAY" "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES"
        printf 'WINE_ENV_DIR=%q WINE_ENV_XVFB_PID=%q\n' "$WINE_ENV_DIR" "$WINE_ENV_XVFB_PID"
    } >"$1"
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k 2>/dev/null || true
        "$WINESERVER" -w 2>/dev/null || true
    fi
    if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    fi
    [ -z "${WINE_ENV_DIR:-}" ] || rm -rf "$WINE_ENV_DIR"
    WINE_ENV_DIR=
}
