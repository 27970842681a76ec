#!/usr/bin/env bash
# Installs Debian's 32-bit Wine (wine32:i386), which the x86 image's Wine
# tests need, where this kernel runs i386 code and apt can add it without
# removing anything. It exits 0 where that Wine is there; otherwise it says
# why in one line and exits 1, the x86 Wine tests skip, and the next run tries
# again.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

# Installed on a kernel without i386 support, wine32 would make Debian's wine
# start every program through the 32-bit loader and fail, x64 ones too. There
# the x86 image runs on the 32-bit Wine of an i386 root, through qemu.
runs_i386 || exec bash "$(dirname "$0")/wine-root.sh" i386
installed wine32:i386 && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "No x86 Wine. Install it with: sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
        "sudo apt-get install -y --no-remove wine32:i386" >&2
    exit 1
fi
mkdir -p "$state"
log=$state/wine32.log

added=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=yes
fi
give_up() {
    unavailable x86 "$1" "$log"
    # Leave the machine as it was: no i386 architecture that nothing uses.
    if [ "$added" = yes ] && [ -z "$(dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -x i386)" ]; then
        dpkg --remove-architecture i386 && apt-get update -qq >/dev/null 2>&1
    fi
    exit 1
}
# --no-remove: where the i386 halves lag behind their amd64 halves, apt would
# rather remove 64-bit Wine than say no.
install "$log" wine32:i386 || give_up "apt could not install wine32:i386"
echo "Installed Debian's 32-bit Wine (wine32:i386)." >&2
