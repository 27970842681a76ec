#!/usr/bin/env bash
# Configures each preset afresh, builds it and runs its tests: the host suite,
# then the x64, ARM64 and x86 images (checked, emulated and run under Wine);
# the x86 tree's tests also check the release ZIP that holds all three. A
# fresh configure deletes the object files of the top directory, the
# program's own, and keeps those of the tests' folders when still current.
#
# The x86 image's Wine needs Debian's wine32:i386, the ARM64 image's a Debian
# arm64 root run through qemu. What the set-up finds on this run decides:
# where one was had, its tests must run and a skip is a failure; where not,
# they skip and say why. The last line says which images' Wine suites ran.
set -euo pipefail
cd "$(dirname "$0")/.."
bash setup/deps.sh
required=${SESSIONEND_REQUIRE_WINE:-}
bash setup/wine32.sh && required+=" x86"
bash setup/wine-root.sh arm64 && required+=" arm64"
export SESSIONEND_REQUIRE_WINE=$required
for preset in host win64 winarm64 win32; do
    cmake --workflow --preset "$preset" --fresh
done
/usr/bin/python3 -m winelab.summary x64=build/win64/ctest-results.xml \
    arm64=build/winarm64/ctest-results.xml x86=build/win32/ctest-results.xml
