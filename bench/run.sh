#!/usr/bin/env bash
# Builds both images and their yardsticks, then runs the benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash setup/deps.sh
for preset in win64 win32; do
    bash scripts/build.sh "$preset" sessionend sessionend_crt empty_gui
done
exec env PYTHONPATH="$PWD" /usr/bin/python3 bench/bench.py build/win64 build/win32
