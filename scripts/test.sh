#!/usr/bin/env bash
# Configures each preset afresh (object files are kept when still current),
# builds it and runs its tests: the host suite, then the x64 image (checked,
# emulated and run under Wine), the ARM64 image (checked and emulated), and
# last the x86 image (checked and emulated), whose tests also check the
# release ZIP that holds all three.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in host win64 winarm64 win32; do
    cmake --workflow --preset "$preset" --fresh
done
