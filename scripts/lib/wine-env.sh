# Sourced by every script that runs Windows programs. Names Wine once, and
# gives a run a session: a private X display and a private Wine prefix, never
# the user's own (a temporary one for the tests, or one kept between runs).
#
# A session belongs to one process, its owner, and ends with it however the
# owner ends: on exit or Ctrl-C through the owner's own EXIT trap; on any other
# death (kill -9, CTest stopped before its clean-up fixture) through a guard
# that watches the owner from outside the run's process group. Should the
# guard die too, the next session to begin ends what is left and says so.
#
#   wine_env_vars [OWNER]           begin a session owned by OWNER (default: this shell)
#   wine_env_start [WIDTHxHEIGHT]   ... with Xvfb and a temporary prefix showing the virtual desktop
#   wine_env_kept PREFIX            use PREFIX, booted once and kept; held for this shell alone
#   wine_env_display [WIDTHxHEIGHT] start Xvfb for the session
#   wine_env_desktop WIDTHxHEIGHT   the virtual desktop every run shows: size and full-window drags
#   wine_run ARGS...                run a Windows program (either word size) in the session
#   wine_env_save FILE              write what a later command needs to join the session
#   wine_env_stop                   end the session now

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

WINE_DIR=/usr/lib/wine
# The 64-bit loader starts 32-bit programs through the 32-bit one, an i386 program.
export WINELOADER=$WINE_DIR/wine64 WINESERVER=$WINE_DIR/wineserver
WINE_LOADER_32=$WINE_DIR/wine
WINE_FONT_DIR=/usr/share/wine/fonts
WINE_ENV_LIB=${BASH_SOURCE[0]}
# How long clean-up waits for a process to end on SIGTERM before SIGKILL.
WINE_ENV_GRACE=5
# Where sessions are made; a test gives a folder of its own.
WINE_ENV_SESSIONS=${AMBRELIX_SESSIONS:-${TMPDIR:-/tmp}}

# Wine's processes outlive a run; they must not hold its lock.
wine_run() {
    if [ -n "${WINE_ENV_LOCK:-}" ]; then "$WINELOADER" "$@" {WINE_ENV_LOCK}>&-; else "$WINELOADER" "$@"; fi
}

# A process is named by its pid and start time, so a reused pid is not taken
# for it; a zombie, dead but not yet reaped, has none.
wine_env_id() {
    local stat
    stat=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) && [ -n "$stat" ] && [ "${stat%% *}" != Z ] &&
        echo "$1 $(cut -d' ' -f20 <<<"$stat")"
}
wine_env_alive() { [ -n "$1" ] && [ "$(wine_env_id "${1%% *}")" = "$1" ]; }

# Ends a process: SIGTERM, then SIGKILL after the grace time.
wine_env_kill() {
    local i
    wine_env_alive "$1" || return 0
    kill "${1%% *}" 2>/dev/null || true
    for ((i = 0; i < WINE_ENV_GRACE * 10; i++)); do wine_env_alive "$1" || return 0; sleep 0.1; done
    kill -9 "${1%% *}" 2>/dev/null || true
}

# Ends every process of the session in DIR and deletes it, a temporary prefix
# with it. Another's session (FOREIGN) leaves a kept prefix's server alone
# while a live run holds that prefix.
wine_env_end() {
    local dir=$1 foreign=${2:-} prefix xvfb display server
    prefix=$(cat "$dir/prefix" 2>/dev/null) || true
    xvfb=$(cat "$dir/xvfb" 2>/dev/null) || true
    display=$(cat "$dir/display" 2>/dev/null) || true
    # A kept prefix is another's while its lock is held; once taken here, it
    # is held until its server is gone, so no new run can start one meanwhile.
    local held=
    if [ -n "$foreign" ] && [ -f "$prefix.lock" ]; then
        exec {held}<>"$prefix.lock"
        flock -n "$held" || prefix=
    fi
    if [ -n "$prefix" ] && [ -d "$prefix" ]; then
        export WINEPREFIX=$prefix
        "$WINESERVER" -k 2>/dev/null || true
        timeout "$WINE_ENV_GRACE" "$WINESERVER" -w 2>/dev/null || "$WINESERVER" -k9 2>/dev/null || true
        # A program caught starting brings up a server of its own: every
        # process left with this prefix goes. Only with the owner's own
        # prefix or a temporary one: a kept prefix may have a new run by now.
        # (Collected before the kill: the search's own processes carry the prefix too.)
        if [ -z "$foreign" ] || [[ $prefix == "$dir"/* ]]; then
            local left
            left=$(grep -lzxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 |
                grep -vx -e $$ -e "$BASHPID") || true
            [ -z "$left" ] || kill -9 $left 2>/dev/null || true
        fi
        # The server's socket folder, named by the prefix's device and inode.
        # (Not its parent: another server may be making its own there.)
        server=server-$(stat -c %D "$prefix" 2>/dev/null)-$(printf %x "$(stat -c %i "$prefix" 2>/dev/null)") || true
        rm -rf "${TMPDIR:-/tmp}"/wine-*/"$server" "/tmp/.wine-$(id -u)/$server"
    fi
    [ -z "$held" ] || exec {held}>&-
    wine_env_kill "$xvfb"
    # An Xvfb killed outright leaves its lock and socket.
    if [ -n "$display" ] && [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$display-lock")" = "${xvfb%% *}" ]; then
        rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"
    fi
    rm -f "$(cat "$dir/saved" 2>/dev/null)"
    rm -rf "$dir"
}

wine_env_guard() {
    local dir=$1 owner
    owner=$(cat "$dir/owner")
    while [ -d "$dir" ] && wine_env_alive "$owner"; do sleep 0.5; done
    [ ! -d "$dir" ] || wine_env_end "$dir" foreign
}

# Sessions whose owner and guard are both gone. One being deleted this very
# moment by its own end (its owner file already gone) is left to that end.
wine_env_sweep() {
    local dir owner left
    for dir in "$WINE_ENV_SESSIONS"/ambrelix-wine.*; do
        owner=$(cat "$dir/owner" 2>/dev/null) || continue
        [ -n "$owner" ] || continue
        ! wine_env_alive "$owner" && ! wine_env_alive "$(cat "$dir/guard" 2>/dev/null)" || continue
        left=$(du -sh "$dir" 2>/dev/null | cut -f1) || true
        wine_env_end "$dir" foreign
        echo "wine-env: ended what a stopped run left: $dir ($left)" >&2
    done
}

wine_env_vars() {
    local owner=${1:-$BASHPID}
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    wine_env_sweep
    WINE_ENV_DIR=$(mktemp -d "$WINE_ENV_SESSIONS/ambrelix-wine.XXXXXX")
    wine_env_id "$owner" >"$WINE_ENV_DIR/owner"
    setsid -f "$BASH" -c 'source "$1"; wine_env_id $$ >"$2/guard"; wine_env_guard "$2"' \
        guard "$WINE_ENV_LIB" "$WINE_ENV_DIR" </dev/null >/dev/null 2>&1
    if [ -z "${1:-}" ]; then
        trap wine_env_stop EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
    fi
}

wine_env_display() {
    local screen=${1:-1280x1024} fifo=$WINE_ENV_DIR/displayfd number
    mkfifo "$fifo"
    # Only its socket file: the abstract one is shared with every root of this
    # network namespace, where another Xvfb may have the same number.
    Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -nolisten local -noreset 3>"$fifo" >"$WINE_ENV_DIR/xvfb.log" 2>&1 &
    wine_env_id $! >"$WINE_ENV_DIR/xvfb"
    if ! read -r -t 20 number <"$fifo"; then
        echo "wine-env: Xvfb did not start" >&2
        cat "$WINE_ENV_DIR/xvfb.log" >&2
        return 1
    fi
    echo "$number" >"$WINE_ENV_DIR/display"
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

wine_env_use() {
    export WINEPREFIX=$1
    echo "$WINEPREFIX" >"$WINE_ENV_DIR/prefix"
}

wine_env_start() {
    local screen=${1:-1280x1024}
    wine_env_vars "${2:-}"
    wine_env_use "$WINE_ENV_DIR/prefix.d"
    wine_env_display "$screen" || return 1
    wine_env_boot || return 1
    wine_env_desktop "$screen"
}

# A virtual desktop gives every window a Windows frame and caption, and a
# screen that stays put whatever the X server does. Windows shows a window's
# contents while it is dragged; Wine's default is an outline only. All of it
# is written by one program, which says why when it cannot.
wine_env_desktop() {
    local file=$WINE_ENV_DIR/desktop.reg log
    printf '%s\n' REGEDIT4 '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' "\"Default\"=\"$1\"" \
        '[HKEY_CURRENT_USER\Control Panel\Desktop]' '"DragFullWindows"="1"' >"$file"
    log=$(wine_run reg import "Z:$file" 2>&1) || { echo "wine-env: cannot set up the virtual desktop: $log" >&2; return 1; }
    "$WINESERVER" -w
}

# The prefix is booted again when it is missing, half made (its mark is
# written last) or made by another Wine. One shell at a time uses it: a
# second waits up to ten minutes, and says so.
wine_env_kept() {
    mkdir -p "$(dirname "$1")"
    take_lock WINE_ENV_LOCK "$1.lock" 600
    wine_env_use "$1"
    local mark=$WINEPREFIX/.made-by version
    version=$(wine_run --version)
    [ "$(cat "$mark" 2>/dev/null)" != "$version" ] || return 0
    echo "wine-env: preparing a private Wine prefix in $WINEPREFIX, first run only (about 20 s)" >&2
    rm -rf "$WINEPREFIX"
    wine_env_boot || return 1
    echo "$version" >"$mark"
}

wine_env_save() {
    echo "$1" >"$WINE_ENV_DIR/saved"
    printf 'export DISPLAY=%q WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q\nWINE_ENV_DIR=%q\n' \
        "$DISPLAY" "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$WINE_ENV_DIR" >"$1"
}

wine_env_stop() {
    [ -z "${WINE_ENV_DIR:-}" ] || wine_env_end "$WINE_ENV_DIR"
    WINE_ENV_DIR=
}
