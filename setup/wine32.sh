#!/usr/bin/env bash
# Installs Debian's 32-bit Wine (wine32:i386), which the x86 image's Wine
# tests need, where this kernel runs i386 code and apt can add it without
# removing anything. It exits 0 where that Wine is there; otherwise it says
# why in one line and exits 1, the x86 Wine tests skip, and the next run tries
# again.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

# Installed on a kernel without i386 support, wine32 would make Debian's wine
# start every program through the 32-bit loader and fail, x64 ones too: ask
# the kernel first, on every run, with a static i386 program that exits with
# status 42. The same disk may be booted under another kernel.
probe=$(mktemp)
log=$(mktemp)
trap 'rm -f "$probe" "$log"' EXIT
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\52\0\0\0\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
if [ $? -ne 42 ]; then
    unavailable x86 "this kernel does not run i386 code"
    exit 1
fi
installed wine32:i386 && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "No x86 Wine. Install it with: sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
        "sudo apt-get install -y --no-remove wine32:i386" >&2
    exit 1
fi

added=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=yes
fi
give_up() {
    mkdir -p "$state" && cp "$log" "$state/wine32.log"
    unavailable x86 "$1" "$state/wine32.log"
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
