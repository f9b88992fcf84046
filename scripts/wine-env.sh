# Sourced by the scripts that run Ambrelix under Wine: a private X display and
# a private, temporary Wine prefix, never the user's own, both removed by
# wine_env_stop.
#
#   wine_env_start [WIDTHxHEIGHT]   start Xvfb (unless KEEP_DISPLAY=1 and DISPLAY is set) and boot a prefix
#   wine_run ARGS...                run a program under the started Wine
#   wine_env_stop                   end every Wine process and Xvfb, delete the prefix
#   wine_can_run_32bit              true when 32-bit programs run here at all
#   wine_32bit_emulated             true when they run only through qemu (slowly)
#
# Booting a prefix takes from seconds to minutes (when 32-bit code runs under
# emulation); one booted prefix is kept in build/wine-template and each
# session works on its own copy of it.

WINE_ENV_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WINE_TEMPLATE_DIR=${WINE_TEMPLATE_DIR:-$(dirname "$WINE_ENV_SCRIPTS")/build/wine-template}

wine_can_run_32bit() {
    # The 32-bit loader is an i386 ELF program: a kernel booted without
    # 32-bit emulation refuses to start it, and then no 32-bit code runs.
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

wine_32bit_emulated() {
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null
}

wine_pick_loader() {
    # The 64-bit loader starts 32-bit programs through the 32-bit one.
    export WINELOADER=/usr/lib/wine/wine64
    WINE_LOADER_CMD=(/usr/lib/wine/wine64)
}

# Copies the booted template prefix to $1, booting the template first when
# it is missing or was made by another Wine.
wine_prefix_from_template() {
    local stamp
    stamp="$(/usr/lib/wine/wine64 --version 2>/dev/null) 32-bit:$(wine_can_run_32bit && echo yes || echo no)"
    mkdir -p "$WINE_TEMPLATE_DIR"
    (
        flock 9
        if [ "$(cat "$WINE_TEMPLATE_DIR/stamp" 2>/dev/null)" != "$stamp" ]; then
            echo "wine-env: booting a Wine prefix ($stamp); this takes a while once" >&2
            rm -rf "$WINE_TEMPLATE_DIR/prefix" "$WINE_TEMPLATE_DIR/stamp"
            WINEPREFIX=$WINE_TEMPLATE_DIR/prefix wine_run wineboot -i >"$WINE_TEMPLATE_DIR/wineboot.log" 2>&1 || {
                echo "wine-env: wineboot failed" >&2
                cat "$WINE_TEMPLATE_DIR/wineboot.log" >&2
                exit 1
            }
            WINEPREFIX=$WINE_TEMPLATE_DIR/prefix /usr/lib/wine/wineserver -w
            echo "$stamp" >"$WINE_TEMPLATE_DIR/stamp"
        fi
    ) 9>"$WINE_TEMPLATE_DIR.lock" || return 1
    cp -a "$WINE_TEMPLATE_DIR/prefix" "$1"
}

wine_run() {
    "${WINE_LOADER_CMD[@]}" "$@"
}

wine_env_start() {
    local screen=${1:-1280x1024}
    wine_pick_loader
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    WINE_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/ambrelix-wine.XXXXXX")
    export WINEPREFIX=$WINE_ENV_DIR/prefix

    if [ "${KEEP_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        WINE_ENV_XVFB_PID=
    else
        local fifo=$WINE_ENV_DIR/displayfd
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$fifo" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
        WINE_ENV_XVFB_PID=$!
        local number
        if ! read -r -t 20 number <"$fifo"; then
            echo "wine-env: Xvfb did not start" >&2
            cat "$WINE_ENV_DIR/xvfb.log" >&2
            return 1
        fi
        export DISPLAY=:$number
    fi

    wine_prefix_from_template "$WINEPREFIX" || return 1
    # A virtual desktop gives every window a Windows frame and caption, and a
    # screen that stays put whatever the X server does.
    wine_run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine_run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen" /f >/dev/null 2>&1
    /usr/lib/wine/wineserver -w 2>/dev/null || true
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-}" ]; then
        WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
        WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -w 2>/dev/null || true
    fi
    if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
    fi
    [ -n "${WINE_ENV_DIR:-}" ] && rm -rf "$WINE_ENV_DIR"
    WINE_ENV_DIR=
}

# The machine field of a PE file: 14c (i386) or 8664 (x86_64).
pe_machine() {
    local lfanew
    lfanew=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -t x2 -j $((lfanew + 4)) -N 2 "$1" | tr -d ' '
}

# Writes what later commands need to reach this session.
wine_env_save() {
    {
        printf 'export DISPLAY=%q WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q\n' \
            "$DISPLAY" "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES"
        [ -n "${WINELOADER:-}" ] && printf 'export WINELOADER=%q\n' "$WINELOADER"
        printf 'WINE_ENV_DIR=%q WINE_ENV_XVFB_PID=%q\n' "$WINE_ENV_DIR" "${WINE_ENV_XVFB_PID:-}"
        printf 'WINE_LOADER_CMD=(%s)\n' "$(printf '%q ' "${WINE_LOADER_CMD[@]}")"
    } >"$1"
}
