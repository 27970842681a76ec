#!/usr/bin/env bash
# Builds the 64-bit program and runs it with the given flags in a Wine prefix
# made for the run and deleted afterwards, then shows what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -ne 1 ]; then
    echo "usage: scripts/run.sh FLAGS   (for example 5: shut down, by force)" >&2
    exit 2
fi
bash setup/deps.sh
bash scripts/build.sh win64
exec /usr/bin/python3 -m winelab.demo build/win64/sessionend.exe build/win64/tests/wine/sleeper.exe "$1"
