#!/usr/bin/env bash
# Configures and builds one preset, quietly when all goes well:
#   scripts/build.sh PRESET [TARGET...]
# On a failure it shows the whole output, the compiler's messages included,
# and exits with the failing step's status.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=$1
shift
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
{ cmake --preset "$preset" && cmake --build --preset "$preset" "${targets[@]}"; } >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "Building the $preset preset failed; its output is above." >&2
    exit "$status"
fi
