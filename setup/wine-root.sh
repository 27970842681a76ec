#!/usr/bin/env bash
# setup/wine-root.sh arm64|i386: makes the Debian 13 root of that
# architecture with Wine, where it is missing or does not run, and keeps it in
# the set-up's state folder: the arm64 one for the ARM64 image, the i386 one
# for the x86 image where this kernel runs no i386 code. It is made, and each
# Wine call enters it (winelab/root-wine), through in_userns: nothing of it is
# ever mounted on the host, and the host's binfmt handlers stay as they were.
#
# Exits 0 with the root ready. Otherwise it says why in one line and exits 1,
# and that image's Wine tests skip; the next run tries again.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
foreign=$1
what=${foreign/i386/x86}
root=$(wine_root "$foreign")
base=$(dirname "$root")
packages=(wine "$([ "$foreign" = arm64 ] && echo wine64 || echo wine32)")

case " ${SESSIONEND_NO_WINE:-} " in *" $what "*) unavailable "$what" "left out (SESSIONEND_NO_WINE)"; exit 1 ;; esac
[ "$(id -u)" -eq 0 ] || { unavailable "$what" "making its $foreign root needs root"; exit 1; }
mkdir -p "$base" && exec 9>"$base/lock" && flock 9
log=$base/make.log
install "$log" debootstrap bubblewrap || { unavailable "$what" "debootstrap and bubblewrap could not be installed" "$log"; exit 1; }
get_qemu "$log" || { unavailable "$what" "Debian 13's qemu-user could not be fetched" "$log"; exit 1; }
if ! unshare --map-root-user --mount mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null; then
    [ "$foreign" = arm64 ] || { unavailable x86 "this kernel runs no i386 code, nor gives a user namespace a binfmt_misc of its own"; exit 1; }
    echo "This kernel gives no user namespace a binfmt_misc of its own (Linux 6.7 does):" \
        "qemu-aarch64 is registered with the host's, and stays there." >&2
    { mountpoint -q /proc/sys/fs/binfmt_misc || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc; } &&
        { [ -e /proc/sys/fs/binfmt_misc/sessionend-arm64 ] || handler arm64 >/proc/sys/fs/binfmt_misc/register; } ||
        { unavailable arm64 "qemu-aarch64 cannot be registered with binfmt_misc"; exit 1; }
fi
[ -e "$base/complete" ] && enter "$root" wine --version >/dev/null 2>&1 && exit 0

echo "Making the $foreign Wine root in $root (once per machine; some 5 minutes) ..." >&2
# An older set-up mounted the host's /dev in there: never delete through it.
findmnt -rn -o TARGET | grep -qF "$root/" && { unavailable "$what" "an older root at $root is still mounted"; exit 1; }
rm -rf "$root" "$base/complete"
mirror=$(debian_mirror)
[ -n "$mirror" ] || { unavailable "$what" "no Debian mirror in apt's sources"; exit 1; }
if ! {
    bootstrap "$root" trixie "$mirror" --arch="$foreign" &&
        cp /etc/resolv.conf "$root/etc/resolv.conf" &&
        enter "$root" apt-get update &&
        enter "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"
} >"$log" 2>&1; then
    unavailable "$what" "making its $foreign root failed" "$log"
    exit 1
fi
touch "$base/complete"
