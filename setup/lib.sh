# The machine set-up's library: source it. What a set-up step needs more
# than once: asking whether a package is installed, installing without ever
# removing a package, recording why something cannot be had here, and making
# and entering a Debian root.

# The one folder where the set-up keeps what it made and what it found
# missing. The tests read it too (their CMake cache variable SESSIONEND_STATE).
state=${SESSIONEND_STATE:-/var/lib/sessionend}
arm64_base=$state/arm64
arm64_root=$arm64_base/root

# installed PACKAGE: true when dpkg has it fully installed.
installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

# install LOG PACKAGE...: installs what is missing, quietly, and never removes
# a package to make room for another. On failure apt's whole output, the
# resolver's reasons included, stays in LOG, and the status is apt's. A
# mirror in the middle of a sync may fail one index, which matters only if a
# package cannot be had.
install() {
    local log=$1 package missing=()
    shift
    for package in "$@"; do
        installed "$package" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y --no-remove ${missing[*]}" >&2
        return 1
    fi
    echo "Installing: ${missing[*]}" >&2
    apt-get update >"$log" 2>&1 || echo "apt-get update reported errors; going on with the lists that arrived." >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-remove "${missing[@]}" >"$log" 2>&1
}

# unavailable WHAT REASON [LOG]: says in one line why WHAT (x86 or arm64, the
# images whose Wine it is) cannot be had here, and records it, with LOG, so
# that the tests skip with that reason and the set-up does not try again.
unavailable() {
    echo "No $1 Wine: $2; its Wine tests will skip." >&2
    mkdir -p "$state/unavailable" 2>/dev/null || return 0
    echo "$2" >"$state/unavailable/$1"
    [ -n "${3:-}" ] && cp "$3" "$state/unavailable/$1.log"
    return 0
}

# recorded WHAT: true, after saying so, when an earlier run recorded WHAT as
# unavailable.
recorded() {
    [ -e "$state/unavailable/$1" ] || return 1
    echo "No $1 Wine: $(cat "$state/unavailable/$1") (not tried again; delete $state/unavailable/$1 to retry)." >&2
}

# The first Debian mirror in apt's sources that is not the security archive,
# from deb822 .sources files or a classic sources.list.
debian_mirror() {
    local sources mirror
    sources=$(find /etc/apt/sources.list.d -name '*.sources' -exec cat {} + 2>/dev/null || true)
    mirror=$(awk '$1 == "URIs:" && !/security/ {print $2; exit}' <<<"$sources")
    if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
        mirror=$(awk '$1 == "deb" && !/security/ {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
            /etc/apt/sources.list | head -n 1)
    fi
    echo "$mirror"
}

# enter ROOT COMMAND...: runs COMMAND in ROOT with bubblewrap, with the host's
# /dev and /sys, in a plain environment. Its mounts live in a mount namespace
# of its own and its processes in a PID namespace of their own, whose /proc
# lacks the host's binfmt_misc; both end with it, so nothing is ever mounted
# on the host and a root is deleted like any folder. Without CAP_SYS_ADMIN, no
# package's set-up can mount a binfmt_misc and register a handler with the
# host's kernel.
enter() {
    local root=$1
    shift
    bwrap --dev-bind "$root" / --dev-bind /dev /dev --unshare-pid --proc /proc --bind /sys /sys \
        --cap-drop CAP_SYS_ADMIN --die-with-parent \
        /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}

# bootstrap ROOT SUITE MIRROR [OPTION...]: a minimal Debian root of SUITE, its
# second stage run inside it.
bootstrap() {
    local root=$1 suite=$2 mirror=$3
    shift 3
    # The first stage links /proc to the host's, where bubblewrap mounts one.
    debootstrap --foreign --variant=minbase "$@" "$suite" "$root" "$mirror" &&
        rm -f "$root/proc" && mkdir "$root/proc" && enter "$root" /debootstrap/debootstrap --second-stage
}
