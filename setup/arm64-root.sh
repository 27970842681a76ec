#!/usr/bin/env bash
# Makes the Debian 13 arm64 root with Wine that runs the ARM64 image, through
# qemu user-mode emulation, where it is missing or incomplete. Kept once per
# machine, in the set-up's state folder. The suite enters it with bubblewrap
# for each Wine call (winelab/arm64-wine), so nothing of it is ever mounted on
# the host.
#
# Where it cannot be made (not root, no binfmt), it says why in one line,
# records it for the tests, which then skip, and exits 0.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

recorded arm64 && exit 0
[ "$(id -u)" -eq 0 ] || { echo "No arm64 Wine: making its root needs root." >&2; exit 0; }
mkdir -p "$arm64_base"
exec 9>"$arm64_base/lock"
flock 9
[ -e "$arm64_base/complete" ] && exit 0
log=$arm64_base/make.log
install "$log" qemu-user-static binfmt-support debootstrap bubblewrap ||
    { unavailable arm64 "could not install qemu-user-static, binfmt-support, debootstrap and bubblewrap" "$log"; exit 0; }
if ! mountpoint -q /proc/sys/fs/binfmt_misc &&
    ! mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
    unavailable arm64 "binfmt_misc cannot be mounted here"
    exit 0
fi
update-binfmts --enable qemu-aarch64 2>/dev/null ||
    { unavailable arm64 "qemu-aarch64 cannot be registered with binfmt"; exit 0; }

echo "Making the ARM64 Wine root in $arm64_root (once per machine; several minutes) ..." >&2
# An older set-up mounted the host's /dev in there: never delete through it.
if findmnt -rn -o TARGET | grep -qF "$arm64_root/"; then
    unavailable arm64 "an incomplete root at $arm64_root is still mounted"
    exit 0
fi
rm -rf "$arm64_root"
mirror=$(debian_mirror)
[ -n "$mirror" ] || { unavailable arm64 "no Debian mirror in apt's sources"; exit 0; }
if ! {
    bootstrap "$arm64_root" trixie "$mirror" --arch=arm64 &&
        cp /etc/resolv.conf "$arm64_root/etc/resolv.conf" &&
        enter "$arm64_root" apt-get update &&
        enter "$arm64_root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine wine64
} >"$log" 2>&1; then
    unavailable arm64 "making its root failed" "$log"
    exit 0
fi
touch "$arm64_base/complete"
