#!/usr/bin/env bash
# Runs the README's test command on a throwaway Debian root of the given
# release, as a newcomer on that release would: a minimal system with git,
# the project cloned into it, then `bash scripts/test.sh` as root there.
#
#   scripts/test-in-debian.sh 13        (12 and 13 are known)
#
# Needs root. The root is made from the mirror that apt uses here, entered as
# setup/lib.sh's enter has it (nothing is ever mounted on the host, and no
# package registers a binfmt handler with it), and deleted afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
source setup/lib.sh

case "${1:-}" in
    12) suite=bookworm ;;
    13) suite=trixie ;;
    *) echo "usage: scripts/test-in-debian.sh 12|13" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "Needs root: debootstrap and bubblewrap." >&2; exit 1; }
root=$(mktemp -d /var/tmp/sessionend-debian-$1.XXXXXX)
log=$root.log
trap 'rm -rf "$log" "$root"' EXIT
install "$log" debootstrap bubblewrap || { cat "$log" >&2; exit 1; }
mirror=$(debian_mirror)
if [ -z "$mirror" ]; then
    echo "No Debian mirror found in apt's sources." >&2
    exit 1
fi

echo "Making a Debian $1 ($suite) root from $mirror in $root ..."
if ! bootstrap "$root" "$suite" "$mirror" --include=git >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    exit 1
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

git clone -q . "$root/src"
echo "Running the README's test command on Debian $1 ..."
# Its own set-up decides there, as on the host, which Wine suites must run;
# the ARM64 one is the host's run's, not made once more in here.
enter "$root" env SESSIONEND_NO_WINE=arm64 bash -c 'cd /src && bash scripts/test.sh'
