#!/usr/bin/env bash
# Fuzzes the command line's cut and parse for as long as you like:
#   scripts/fuzz.sh [SECONDS]     (no SECONDS: until interrupted)
# New inputs collect in build/host/tests/host/found; a crash leaves its input
# in build/host/tests/host/ as crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
bash setup/deps.sh
bash scripts/build.sh host command_line_fuzz
out=build/host/tests/host
mkdir -p "$out/found"
limit=()
[ $# -ge 1 ] && limit=("-max_total_time=$1")
exec "$out/command_line_fuzz" "${limit[@]}" -print_final_stats=1 -max_len=40000 \
    -artifact_prefix="$out/" "$out/found" tests/host/corpus
