#!/usr/bin/env bash
# Configures each preset afresh (object files are kept when still current),
# builds it and runs its tests: the host suite, then the x64, ARM64 and x86
# images (checked, emulated and run under Wine); the x86 tree's tests also
# check the release ZIP that holds all three.
#
# The x86 image's Wine needs Debian's wine32:i386, the ARM64 image's a Debian
# arm64 root run through qemu; where either cannot be had, those tests skip
# and say why. Where it was had, a skip is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash setup/deps.sh
bash setup/wine32.sh
bash setup/arm64-root.sh make
source setup/lib.sh
required=${SESSIONEND_REQUIRE_WINE:-}
installed wine32:i386 && required+=" x86"
[ -e "$arm64_base/complete" ] && required+=" arm64"
export SESSIONEND_REQUIRE_WINE=$required
for preset in host win64 winarm64 win32; do
    cmake --workflow --preset "$preset" --fresh
done
