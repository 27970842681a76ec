#!/usr/bin/env bash
# Builds both images and makes the release ZIP, build/release/sessionend-*.zip,
# then checks the checksums inside it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in win64 winarm64 win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
done
rm -rf build/release
cpack --preset release >/dev/null
archive=$(ls build/release/sessionend-*.zip)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
python3 -m zipfile -e "$archive" "$unpacked"
(cd "$unpacked" && sha256sum -c SHA256SUMS)
echo "Release: $archive"
