# Sourced by set-up: installs Debian packages, as root or through sudo.
#
# A Debian mirror caught in the middle of a sync fails one index now and
# then ("File has unexpected size ... Mirror sync in progress?"), and
# apt-get update then exits non-zero although every other list was updated.
# So update is tried a few times, and if an index still fails, install goes
# on with the lists that did download: only a failed install stops set-up,
# and then it names the index that failed. No source is ever turned off.
#
#   apt_install [APT-GET INSTALL ARGS...] PACKAGE...

if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
APT_TRIES=${APT_TRIES:-3}
APT_RETRY_PAUSE=${APT_RETRY_PAUSE:-20}

# Sets apt_failed_indexes to what did not download, empty when all did.
apt_update() {
    local try log
    for ((try = 1; ; try++)); do
        if log=$("${as_root[@]}" apt-get update -qq 2>&1); then
            apt_failed_indexes=
            return 0
        fi
        apt_failed_indexes=$(sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' <<<"$log" | sort -u | paste -sd ' ')
        [ -n "$apt_failed_indexes" ] || apt_failed_indexes=$(grep '^E:' <<<"$log" | head -n 3 | paste -sd ' ')
        [ "$try" -lt "$APT_TRIES" ] || break
        echo "setup: apt-get update failed (try $try of $APT_TRIES: $apt_failed_indexes); again in $APT_RETRY_PAUSE s" >&2
        sleep "$APT_RETRY_PAUSE"
    done
    echo "setup: these package lists did not download: $apt_failed_indexes; going on with the others" >&2
}

apt_install() {
    apt_update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
    if [ -n "$apt_failed_indexes" ]; then
        echo "setup: could not install what is needed while this package list failed to download:" \
             "$apt_failed_indexes (a Debian mirror in the middle of a sync?); try again later" >&2
    else
        echo "setup: could not install: $*" >&2
    fi
    return 1
}
