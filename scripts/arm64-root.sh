#!/usr/bin/env bash
# The Debian 13 arm64 root with Wine that runs the ARM64 image, through qemu
# user-mode emulation. Kept once per machine, outside any checkout.
#
#   scripts/arm64-root.sh make            makes it where it is missing or incomplete
#   scripts/arm64-root.sh mount DIR...    mounts the host's /proc, /sys, /dev and each DIR in it
#   scripts/arm64-root.sh unmount DIR...  unmounts each DIR, and the rest once no one uses the root
#
# Where it cannot be made (not root, no binfmt), `make` says why in one line,
# notes it for the tests, which then skip, and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/debian-root.sh

base=${SESSIONEND_ARM64_ROOT:-/var/lib/sessionend-arm64}
root=$base/root

unavailable() {
    echo "No ARM64 Wine: $1" >&2
    [ -w "$base" ] && echo "$1" >"$base/unavailable"
    exit 0
}

make_root() {
    [ "$(id -u)" -eq 0 ] || { echo "No ARM64 Wine: making its root needs root." >&2; exit 0; }
    mkdir -p "$base"
    exec 9>"$base/lock"
    flock 9
    [ -e "$base/complete" ] && return
    rm -f "$base/unavailable"
    local missing=()
    for package in qemu-user-static binfmt-support debootstrap; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        apt-get update -qq || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-remove "${missing[@]}" >"$base/apt.log" 2>&1 ||
            { cat "$base/apt.log" >&2; unavailable "could not install ${missing[*]}"; }
    fi
    if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
            unavailable "binfmt_misc cannot be mounted here"
    fi
    update-binfmts --enable qemu-aarch64 2>/dev/null || unavailable "qemu-aarch64 cannot be registered with binfmt"

    echo "Making the ARM64 Wine root in $root (once per machine; several minutes) ..." >&2
    [ -e "$root" ] && { remove_root "$root" || unavailable "an incomplete root at $root is still mounted"; }
    local mirror log=$base/make.log
    mirror=$(debian_mirror)
    [ -n "$mirror" ] || unavailable "no Debian mirror in apt's sources"
    {
        debootstrap --arch=arm64 --foreign --variant=minbase trixie "$root" "$mirror" &&
            chroot "$root" /debootstrap/debootstrap --second-stage &&
            cp /etc/resolv.conf "$root/etc/resolv.conf" &&
            mount_host "$root" &&
            chroot "$root" apt-get update &&
            chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine wine64
    } >"$log" 2>&1 || { unmount_all "$root"; tail -n 30 "$log" >&2; unavailable "making the root failed ($log)"; }
    unmount_all "$root"
    touch "$base/complete"
}

# Several suites (checkouts, build trees) may use the root at once: each
# mounts and unmounts its own folders, and the last one out unmounts the rest.
users() {
    exec 9>"$base/lock"
    flock 9
    touch "$base/users"
    local dir
    for dir in "${@:2}"; do
        grep -vxF "$dir" "$base/users" >"$base/users.new" || true
        mv "$base/users.new" "$base/users"
        if [ "$1" = add ]; then
            echo "$dir" >>"$base/users"
        fi
    done
}

case "${1:-}" in
    make) make_root ;;
    mount)
        shift
        [ -e "$base/complete" ] || exit 0
        users add "$@"
        mount_host "$root" "$@"
        ;;
    unmount)
        shift
        [ -e "$base/complete" ] || exit 0
        users remove "$@"
        for dir in "$@"; do
            umount -R "$root$dir" 2>/dev/null || true
        done
        [ -s "$base/users" ] || unmount_all "$root"
        ;;
    *) echo "usage: scripts/arm64-root.sh make|mount DIR...|unmount DIR..." >&2; exit 2 ;;
esac
exit 0
