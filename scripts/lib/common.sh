# Sourced by every script of the project: what they all share, decided once.
#
#   SUPPORTED_RELEASES        the Debian releases the project is built and tested on
#   fail MESSAGE...           say MESSAGE as this script's own, and exit 1
#   as_root COMMAND...        run COMMAND as root: as it is, or through sudo
#   os_release FIELD          a field of /etc/os-release (VERSION_CODENAME, PRETTY_NAME, ...)
#   take_lock VAR FILE SECS   hold FILE's lock while this shell lives, its descriptor in VAR;
#                             wait at most SECS for it, saying who holds it
#   own_namespace ARGS...     run this script again, with ARGS, as the first process of a PID
#                             namespace of its own (nothing when it is one already)

SUPPORTED_RELEASES=(bookworm trixie)  # Debian 12 and 13

fail() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

os_release() { (. /etc/os-release && eval "echo \"\${$1:-}\""); }

take_lock() {
    local file=$2 seconds=$3
    eval "exec {$1}<>\"\$file\""
    local fd=${!1}
    if ! flock -n "$fd"; then
        echo "$(basename "$0" .sh): $(cat "$file" 2>/dev/null || echo 'another run') holds $file; waiting for it, at most $seconds s" >&2
        flock -w "$seconds" "$fd" || fail "gave up waiting for $file after $seconds s"
    fi
    echo "pid $$ ($(basename "$0"), since $(date -u +%H:%M:%S) UTC)" >"$file"
}

# However the script then ends, kill -9 included, the kernel ends every
# process it started. As root plainly; as anyone else in a user namespace
# that keeps their uid, or through sudo where those are turned off.
own_namespace() {
    [ "$$" -ne 1 ] || return 0
    local ns=(--pid --fork --kill-child --mount-proc) me=("$BASH" "$0" "$@")
    [ "$(id -u)" -ne 0 ] || exec unshare "${ns[@]}" "${me[@]}"
    ! unshare --user --map-current-user true 2>/dev/null || exec unshare --user --map-current-user "${ns[@]}" "${me[@]}"
    exec sudo --preserve-env unshare "${ns[@]}" setpriv --reuid="$(id -u)" --regid="$(id -g)" --init-groups "${me[@]}"
}
