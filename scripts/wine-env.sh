# Sourced by every script that runs Windows programs. Names Wine once, and
# gives a session a private X display and a private, temporary Wine prefix,
# never the user's own; wine_env_stop removes both.
#
#   wine_env_start [WIDTHxHEIGHT]   start Xvfb (unless KEEP_DISPLAY=1 and DISPLAY is set) and boot a prefix
#   wine_run ARGS...                run a Windows program (either word size) in the session
#   wine_env_save FILE              write what a later command needs to join the session
#   wine_env_stop                   end every Wine process and Xvfb, delete the prefix

WINE_DIR=/usr/lib/wine
# The 64-bit loader starts 32-bit programs through the 32-bit one, an i386 program.
export WINELOADER=$WINE_DIR/wine64 WINESERVER=$WINE_DIR/wineserver
WINE_LOADER_32=$WINE_DIR/wine
WINE_FONT_DIR=/usr/share/wine/fonts

wine_run() { "$WINELOADER" "$@"; }

wine_env_start() {
    local screen=${1:-1280x1024}
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/ambrelix-wine.XXXXXX")
    export WINEPREFIX=$WINE_ENV_DIR/prefix

    WINE_ENV_XVFB_PID=
    if [ "${KEEP_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
        local fifo=$WINE_ENV_DIR/displayfd number
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$fifo" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
        WINE_ENV_XVFB_PID=$!
        if ! read -r -t 20 number <"$fifo"; then
            echo "wine-env: Xvfb did not start" >&2
            cat "$WINE_ENV_DIR/xvfb.log" >&2
            return 1
        fi
        export DISPLAY=:$number
    fi

    if ! wine_run wineboot -i >"$WINE_ENV_DIR/wineboot.log" 2>&1; then
        echo "wine-env: wineboot failed" >&2
        cat "$WINE_ENV_DIR/wineboot.log" >&2
        return 1
    fi
    # Wine looks for its own fonts (Marlett draws the caption buttons) only in
    # the prefix here, and a new prefix has none.
    cp "$WINE_FONT_DIR"/* "$WINEPREFIX/drive_c/windows/Fonts/"
    if [ -z "$WINE_ENV_XVFB_PID" ]; then
        return 0
    fi
    # A virtual desktop gives every window a Windows frame and caption, and a
    # screen that stays put whatever the X server does.
    wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen" /f >/dev/null 2>&1
    # Windows shows a window's contents while it is dragged; Wine's default
    # is an outline only.
    wine_run reg add 'HKCU\Control Panel\Desktop' /v DragFullWindows /d 1 /f >/dev/null 2>&1
    "$WINESERVER" -w
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
