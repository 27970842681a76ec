#!/usr/bin/env bash
# Installs Debian's 32-bit Wine (wine32:i386), which the x86 image's Wine
# tests need, where this kernel runs i386 code and apt can add it without
# removing anything. Whatever happens, it exits 0 and the x64 set-up goes on;
# where there is no 32-bit Wine, it says why in one line and the x86 Wine
# tests skip.
set -uo pipefail

state=/var/lib/sessionend/wine32-unavailable

[ "$(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null)" = "install ok installed" ] && exit 0

# Installed on a kernel without i386 support, wine32 would make Debian's wine
# start every program through the 32-bit loader and fail, x64 ones too: ask
# the kernel first, with a static i386 program that exits with status 42.
probe=$(mktemp)
log=$(mktemp)
trap 'rm -f "$probe" "$log"' EXIT
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0\270\1\0\0\0\273\52\0\0\0\315\200' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
if [ $? -ne 42 ]; then
    echo "No 32-bit Wine: this kernel does not run i386 code; the x86 image's Wine tests will skip." >&2
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "No 32-bit Wine. Install it with: sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
        "sudo apt-get install -y --no-remove wine32:i386" >&2
    exit 0
fi
if [ -e "$state" ]; then
    echo "No 32-bit Wine: $(cat "$state") (not tried again; delete $state to retry)." >&2
    exit 0
fi

added=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=yes
fi
give_up() {
    mkdir -p "$(dirname "$state")"
    cp "$log" "$state.log"
    echo "No 32-bit Wine: $1 (apt's output: $state.log); the x86 image's Wine tests will skip." >&2
    # Leave the machine as it was: no i386 architecture that nothing uses.
    if [ "$added" = yes ] && [ -z "$(dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -x i386)" ]; then
        dpkg --remove-architecture i386 && apt-get update -qq >/dev/null 2>&1
    fi
    echo "$1" >"$state"
    exit 0
}
# A mirror in the middle of a sync may fail one index; what matters is
# whether the i386 packages arrived.
apt-get update >"$log" 2>&1 || echo "apt-get update reported errors; going on with the lists that arrived." >&2
[[ $(apt-cache policy wine32:i386) == *"Candidate: "[0-9]* ]] || give_up "apt has no wine32:i386"
# --no-remove: where the i386 halves lag behind their amd64 halves, apt would
# rather remove 64-bit Wine than say no.
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-remove wine32:i386 >"$log" 2>&1 ||
    give_up "apt cannot install wine32:i386 without removing packages"
echo "Installed Debian's 32-bit Wine (wine32:i386)." >&2
