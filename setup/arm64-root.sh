#!/usr/bin/env bash
# The Debian 13 arm64 root with Wine that runs the ARM64 image, through qemu
# user-mode emulation. Kept once per machine, in the set-up's state folder.
#
#   setup/arm64-root.sh make            makes it where it is missing or incomplete
#   setup/arm64-root.sh mount DIR...    mounts the host's /proc, /sys, /dev and each DIR in it
#   setup/arm64-root.sh unmount DIR...  unmounts each DIR, and the rest once no one uses the root
#
# Where it cannot be made (not root, no binfmt), `make` says why in one line,
# records it for the tests, which then skip, and exits 0. Where there is no
# root, mount and unmount have nothing to do and exit with CTest's skip
# status, 77.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

make_root() {
    recorded arm64 && return
    [ "$(id -u)" -eq 0 ] || { echo "No arm64 Wine: making its root needs root." >&2; return; }
    mkdir -p "$arm64_base"
    exec 9>"$arm64_base/lock"
    flock 9
    [ -e "$arm64_base/complete" ] && return
    local log=$arm64_base/make.log
    install "$log" qemu-user-static binfmt-support debootstrap ||
        { unavailable arm64 "could not install qemu-user-static, binfmt-support and debootstrap" "$log"; return; }
    if ! mountpoint -q /proc/sys/fs/binfmt_misc &&
        ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
        unavailable arm64 "binfmt_misc cannot be mounted here"
        return
    fi
    update-binfmts --enable qemu-aarch64 2>/dev/null ||
        { unavailable arm64 "qemu-aarch64 cannot be registered with binfmt"; return; }

    echo "Making the ARM64 Wine root in $arm64_root (once per machine; several minutes) ..." >&2
    if [ -e "$arm64_root" ] && ! remove_root "$arm64_root"; then
        unavailable arm64 "an incomplete root at $arm64_root is still mounted"
        return
    fi
    local mirror
    mirror=$(debian_mirror)
    [ -n "$mirror" ] || { unavailable arm64 "no Debian mirror in apt's sources"; return; }
    if ! {
        debootstrap --arch=arm64 --foreign --variant=minbase trixie "$arm64_root" "$mirror" &&
            chroot "$arm64_root" /debootstrap/debootstrap --second-stage &&
            cp /etc/resolv.conf "$arm64_root/etc/resolv.conf" &&
            mount_host "$arm64_root" &&
            chroot "$arm64_root" apt-get update &&
            chroot "$arm64_root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine wine64
    } >"$log" 2>&1; then
        unmount_all "$arm64_root"
        unavailable arm64 "making its root failed" "$log"
        return
    fi
    unmount_all "$arm64_root"
    touch "$arm64_base/complete"
}

# Several suites (checkouts, build trees) may use the root at once: each
# mounts and unmounts its own folders, and the last one out unmounts the rest.
users() {
    exec 9>"$arm64_base/lock"
    flock 9
    touch "$arm64_base/users"
    local dir
    for dir in "${@:2}"; do
        grep -vxF "$dir" "$arm64_base/users" >"$arm64_base/users.new" || true
        mv "$arm64_base/users.new" "$arm64_base/users"
        if [ "$1" = add ]; then
            echo "$dir" >>"$arm64_base/users"
        fi
    done
}

action=${1:-}
shift || true
case "$action" in
    make) make_root ;;
    mount | unmount)
        [ -e "$arm64_base/complete" ] || { echo "No ARM64 Wine root here: nothing to $action."; exit 77; }
        if [ "$action" = mount ]; then
            users add "$@"
            mount_host "$arm64_root" "$@"
        else
            users remove "$@"
            for dir in "$@"; do
                umount -R "$arm64_root$dir" 2>/dev/null || true
            done
            [ -s "$arm64_base/users" ] || unmount_all "$arm64_root"
        fi
        ;;
    *) echo "usage: setup/arm64-root.sh make|mount DIR...|unmount DIR..." >&2; exit 2 ;;
esac
