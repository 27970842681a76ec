# Shared by the scripts that make a Debian root of their own: source it.
# The mirror to make it from, and the host file systems it needs, mounted and
# unmounted again; a root is deleted only once nothing is mounted under it,
# since a recursive delete through a bound /dev destroys the host's devices.

# The first Debian mirror in apt's sources that is not the security archive,
# from deb822 .sources files or a classic sources.list.
debian_mirror() {
    local sources
    sources=$(find /etc/apt/sources.list.d -name '*.sources' -exec cat {} + 2>/dev/null || true)
    local mirror
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

# remove_root ROOT: unmounts, then deletes only if nothing is left mounted.
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
