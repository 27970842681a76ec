#!/usr/bin/env bash
# Builds everything from scratch and runs every test: the host suite, then
# the 64-bit image (checked and run under Wine), then the 32-bit image, which
# is compared with the 64-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in host win64 win32; do
    cmake --workflow --preset "$preset" --fresh
done
