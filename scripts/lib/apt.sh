# Sourced by set-up and the fresh-root runner: installs Debian packages, as
# root or through sudo, and reads the machine's own mirrors.
#
# A Debian mirror caught in the middle of a sync fails one index now and
# then ("File has unexpected size ... Mirror sync in progress?"), and
# apt-get update then exits non-zero although every other list was updated.
# So update is tried a few times, and if an index still fails, install goes
# on with the lists that did download. No source is ever turned off.
#
#   apt_install [APT-GET INSTALL ARGS...] PACKAGE...

source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
APT_TRIES=${APT_TRIES:-3}
APT_RETRY_PAUSE=${APT_RETRY_PAUSE:-20}

# Sets apt_failed_indexes to what did not download, empty when all did.
apt_update() {
    local try log
    for ((try = 1; ; try++)); do
        if log=$(as_root apt-get update -qq 2>&1); then
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
    # One wait for the mirror is enough in one set-up.
    APT_TRIES=1
}

# Prints only why apt refused, if it did.
apt_get_install() {
    local log
    log=$(as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" 2>&1) ||
        { grep -E '^ [^ ]|^E:' <<<"$log"; return 1; }
}

apt_install() {
    apt_update
    local log release tried
    log=$(apt_get_install "$@") && return 0
    if [ -z "$apt_failed_indexes" ]; then
        echo "$log" >&2
        echo "setup: could not install: $*" >&2
        return 1
    fi
    # apt keeps a suite's old lists when one of its indexes fails. On a
    # machine whose lists predate i386, that suite's amd64 list then offers
    # newer versions than any i386 list, and a Multi-Arch: same library needs
    # one version on both. The release's own versions have both; -y refuses
    # any downgrade. A caller's own -t cannot be given them (apt heeds the last).
    release=$(os_release VERSION_CODENAME) tried=
    if [[ " $* " != *" -t "* ]]; then
        tried=", not even $release's own versions (what is installed may be newer than any list that downloaded)"
        if apt_get_install -t "$release" "$@" >/dev/null; then
            echo "setup: as $apt_failed_indexes did not download, installed $release's own versions of what was needed;" \
                 "'apt-get upgrade' brings their updates once the mirror is whole" >&2
            return 0
        fi
    fi
    echo "$log" >&2
    echo "setup: could not install ${tried:+what is needed}${tried:-$*} while this package list failed to download:" \
         "$apt_failed_indexes (a Debian mirror in the middle of a sync?)$tried; try again later" >&2
    return 1
}

# Prints the URI of the machine's apt source for SUITE, from apt's own reading
# of its sources: no mirror's host is written into the project.
apt_mirror() {
    apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | awk -v suite="$1" '$2 == suite { print $1; exit }'
}
