# The machine set-up's library: source it. What a set-up step needs more
# than once: asking whether a package is installed, installing without ever
# removing a package, recording why something cannot be had here, and making
# and taking down a Debian root.

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

# mount_host ROOT [DIR...]: /proc, /sys and /dev of the host, and each DIR at
# its own path inside ROOT.
mount_host() {
    local root=$1 dir
    shift
    for dir in /proc /sys /dev "$@"; do
        mkdir -p "$root$dir"
        mountpoint -q "$root$dir" && continue
        mount --rbind "$dir" "$root$dir"
        mount --make-rslave "$root$dir"
    done
}

# unmount_all ROOT: everything mounted under ROOT, deepest first.
unmount_all() {
    local root=$1 mount
    for mount in $(findmnt -rn -o TARGET | grep -F "$root/" | sort -r); do
        umount -R "$mount" 2>/dev/null || umount -R -l "$mount" 2>/dev/null || true
    done
}

# remove_root ROOT: unmounts, then deletes only if nothing is left mounted,
# since a recursive delete through a bound /dev destroys the host's devices.
remove_root() {
    local root=$1
    unmount_all "$root"
    if [ -z "$(findmnt -rn -o TARGET | grep -F "$root/" || true)" ]; then
        rm -rf "$root"
    else
        echo "Left $root in place: something is still mounted under it." >&2
        return 1
    fi
}
