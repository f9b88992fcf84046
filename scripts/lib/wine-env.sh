# Sourced by every script that runs Windows programs. Names Wine once, and
# gives a run a session: a private X display and a private Wine prefix, never
# the user's own (a temporary one for the tests, or one kept between runs).
#
# A run lives in a PID namespace of its own (own_namespace, in common.sh):
# however its first process ends, kill -9 included, the kernel ends every
# process in it. Files are what can remain. A session's folder holds a lock
# that its processes keep while any of them lives, so a session whose lock is
# free has ended; its own end removes its files, and if it could not, the
# next session to begin does and says so.
#
#   wine_env_vars [detached]        begin a session that ends with this shell (unless detached:
#                                   a CTest fixture's, which wine_env_stop ends later)
#   wine_env_start WIDTHxHEIGHT [detached]  ... with Xvfb and a temporary prefix showing the virtual desktop
#   wine_env_kept PREFIX            use PREFIX, booted once and kept; held for this shell alone
#   wine_env_display WIDTHxHEIGHT   start Xvfb for the session
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
# How long clean-up waits for a process to end on SIGTERM before SIGKILL.
WINE_ENV_GRACE=5
# Where sessions are made; a test gives a folder of its own.
WINE_ENV_SESSIONS=${AMBRELIX_SESSIONS:-${TMPDIR:-/tmp}}

# Wine's server lives on after the program that started it: it must not keep
# the kept prefix's lock, which says that a run is using the prefix.
wine_run() {
    if [ -n "${WINE_ENV_LOCK:-}" ]; then "$WINELOADER" "$@" {WINE_ENV_LOCK}>&-; else "$WINELOADER" "$@"; fi
}

# Removes the server's socket folder, named by the prefix's device and inode.
# (Not its parent: another server may be making its own there.)
wine_env_remove_server_dir() {
    local server
    server=server-$(stat -c %D "$1" 2>/dev/null)-$(printf %x "$(stat -c %i "$1" 2>/dev/null)") || return 0
    rm -rf "${TMPDIR:-/tmp}"/wine-*/"$server" "/tmp/.wine-$(id -u)/$server"
}

# Removes what an ended session in DIR left: its folder, a temporary prefix
# with it, and that prefix's server folder (a kept prefix's next server takes
# over its own folder), and the lock and socket of its display, which an
# Xvfb killed outright leaves.
wine_env_remove() {
    local dir=$1 prefix display
    prefix=$(cat "$dir/prefix" 2>/dev/null) || true
    [[ $prefix != "$dir"/* ]] || wine_env_remove_server_dir "$prefix"
    display=$(cat "$dir/display" 2>/dev/null) || true
    [ -z "$display" ] || rm -f "/tmp/.X$display-lock" "/tmp/.X11-unix/X$display"
    rm -f "$(cat "$dir/saved" 2>/dev/null)"
    rm -rf "$dir" 2>/dev/null || true
}

# Ends this shell's session: its Wine server, what is left with its prefix
# (a program caught starting brings up a server of its own), its Xvfb, then
# its files.
wine_env_stop() {
    local dir=${WINE_ENV_DIR:-} prefix xvfb left
    [ -n "$dir" ] || return 0
    WINE_ENV_DIR=
    prefix=$(cat "$dir/prefix" 2>/dev/null) || true
    xvfb=$(cat "$dir/xvfb" 2>/dev/null) || true
    if [ -n "$prefix" ] && [ -d "$prefix" ]; then
        export WINEPREFIX=$prefix
        "$WINESERVER" -k 2>/dev/null || true
        timeout "$WINE_ENV_GRACE" "$WINESERVER" -w 2>/dev/null || "$WINESERVER" -k9 2>/dev/null || true
        # Only this namespace's processes are seen. (Collected before the
        # kill: the search's own processes carry the prefix too.)
        left=$(grep -lzxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 |
            grep -vx -e $$ -e "$BASHPID") || true
        [ -z "$left" ] || kill -9 $left 2>/dev/null || true
        wine_env_remove_server_dir "$prefix"
    fi
    if [ -n "$xvfb" ] && [ "$(cat "/proc/$xvfb/comm" 2>/dev/null)" = Xvfb ] && kill "$xvfb" 2>/dev/null; then
        timeout "$WINE_ENV_GRACE" tail --pid="$xvfb" -f /dev/null || kill -9 "$xvfb" 2>/dev/null || true
    fi
    wine_env_remove "$dir"
}

# Sessions that have ended without removing their files.
wine_env_sweep() {
    local dir left
    for dir in "$WINE_ENV_SESSIONS"/ambrelix-wine.*; do
        [ -f "$dir/lock" ] && flock -n "$dir/lock" true 2>/dev/null || continue
        left=$(du -sh "$dir" 2>/dev/null | cut -f1) || true
        wine_env_remove "$dir"
        echo "wine-env: ended what a stopped run left: $dir ($left)" >&2
    done
}

# The end of a namespace's first process: every other process in it ends
# now, and so has every session begun in it.
wine_env_close() {
    [ "$$" -eq 1 ] || return 0
    local dir ours
    kill -9 -1 2>/dev/null || true
    ours=$(readlink /proc/self/ns/pid)
    for dir in "$WINE_ENV_SESSIONS"/ambrelix-wine.*; do
        [ "$(cat "$dir/ns" 2>/dev/null)" != "$ours" ] || wine_env_remove "$dir"
    done
}

wine_env_vars() {
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    wine_env_sweep
    WINE_ENV_DIR=$(mktemp -d "$WINE_ENV_SESSIONS/ambrelix-wine.XXXXXX")
    # Every process started from here on keeps the lock. It is taken before
    # it has its name, so that no sweep finds it free.
    exec {WINE_ENV_HOLD}>"$WINE_ENV_DIR/lock.new"
    flock "$WINE_ENV_HOLD"
    mv "$WINE_ENV_DIR/lock.new" "$WINE_ENV_DIR/lock"
    readlink /proc/self/ns/pid >"$WINE_ENV_DIR/ns"
    if [ -z "${1:-}" ]; then
        trap wine_env_stop EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
    fi
}

# The display is the first number from 10 with neither a lock nor a socket,
# chosen and taken under a lock of the machine's. Xvfb's own choice cannot be
# trusted with sessions side by side: -displayfd makes no lock file, and the
# pid in another's lock file means nothing in another PID namespace.
# Only its socket file: the abstract one is shared with every root of this
# network namespace, where another Xvfb may have the same number.
wine_env_display() {
    local screen=$1 number choosing i
    exec {choosing}>>/tmp/.ambrelix-displays.lock
    flock "$choosing"
    for ((number = 10; ; number++)); do
        [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] || break
    done
    echo "$number" >"$WINE_ENV_DIR/display"
    Xvfb ":$number" -screen 0 "${screen}x24" -nolisten tcp -nolisten local -noreset \
        >"$WINE_ENV_DIR/xvfb.log" 2>&1 {choosing}>&- &
    echo $! >"$WINE_ENV_DIR/xvfb"
    # Ready once it listens; its lock is made first.
    for ((i = 0; i < 200; i++)); do
        [ ! -S "/tmp/.X11-unix/X$number" ] || break
        kill -0 $! 2>/dev/null || i=200
        sleep 0.1
    done
    exec {choosing}>&-
    if [ ! -S "/tmp/.X11-unix/X$number" ]; then
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

wine_env_use() {
    export WINEPREFIX=$1
    echo "$WINEPREFIX" >"$WINE_ENV_DIR/prefix"
}

wine_env_start() {
    local screen=$1
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
