#!/usr/bin/env bash
# Builds both images and their yardsticks, then runs the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in win64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target sessionend sessionend_crt empty_gui >/dev/null
done
exec python3 bench/bench.py build/win64 build/win32
