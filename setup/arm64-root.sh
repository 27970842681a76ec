#!/usr/bin/env bash
# Makes the Debian 13 arm64 root with Wine that runs the ARM64 image, where
# it is missing or does not run, and keeps it in the set-up's state folder.
# It is made, and every Wine call of the suite enters it (winelab/arm64-wine),
# with bubblewrap in a user namespace whose own binfmt_misc runs arm64
# programs with qemu: nothing of it is ever mounted on the host, and the
# host's binfmt handlers stay as they were.
#
# Exits 0 with the root ready. Otherwise it says why in one line and exits 1,
# and the ARM64 Wine tests skip; the next run tries again.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
foreign=arm64

case " ${SESSIONEND_NO_WINE:-} " in *" arm64 "*) unavailable arm64 "left out (SESSIONEND_NO_WINE)"; exit 1 ;; esac
[ "$(id -u)" -eq 0 ] || { unavailable arm64 "making its root needs root"; exit 1; }
mkdir -p "$arm64_base"
exec 9>"$arm64_base/lock"
flock 9
log=$arm64_base/make.log
install "$log" debootstrap bubblewrap || { unavailable arm64 "debootstrap and bubblewrap could not be installed" "$log"; exit 1; }
get_qemu "$log" || { unavailable arm64 "Debian 13's qemu-user could not be fetched" "$log"; exit 1; }
if ! unshare --map-root-user --mount mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
    echo "This kernel gives no user namespace a binfmt_misc of its own (Linux 6.7 does):" \
        "qemu-aarch64 is registered with the host's, and stays there." >&2
    { mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc; } &&
        { [ -e /proc/sys/fs/binfmt_misc/sessionend-arm64 ] || echo "$handler" >/proc/sys/fs/binfmt_misc/register; } ||
        { unavailable arm64 "qemu-aarch64 cannot be registered with binfmt_misc"; exit 1; }
fi
[ -e "$arm64_base/complete" ] && enter "$arm64_root" wine --version >/dev/null 2>&1 && exit 0

echo "Making the ARM64 Wine root in $arm64_root (once per machine; some 5 minutes) ..." >&2
# An older set-up mounted the host's /dev in there: never delete through it.
if findmnt -rn -o TARGET | grep -qF "$arm64_root/"; then
    unavailable arm64 "an older root at $arm64_root is still mounted"
    exit 1
fi
rm -rf "$arm64_root" "$arm64_base/complete"
mirror=$(debian_mirror)
[ -n "$mirror" ] || { unavailable arm64 "no Debian mirror in apt's sources"; exit 1; }
if ! {
    bootstrap "$arm64_root" trixie "$mirror" --arch=arm64 &&
        cp /etc/resolv.conf "$arm64_root/etc/resolv.conf" &&
        enter "$arm64_root" apt-get update &&
        enter "$arm64_root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine wine64
} >"$log" 2>&1; then
    unavailable arm64 "making its root failed" "$log"
    exit 1
fi
touch "$arm64_base/complete"
