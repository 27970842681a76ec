#!/usr/bin/env bash
# Builds the three images and makes the release in build/release: the ZIP,
# a Windows Installer package of each image, their codes and a SHA256SUMS of
# those, then checks the checksums inside the ZIP and beside it. The images and the
# packages are signed when the environment names a certificate (see the
# README's "Signing a release"); otherwise the release is unsigned. Where
# SESSIONEND_RELEASE_URL names the https folder that the files will be
# published under, winget's and Scoop's manifests for them go beside them;
# they also need the home page, SESSIONEND_HOMEPAGE.
set -euo pipefail
cd "$(dirname "$0")/.."
url=${SESSIONEND_RELEASE_URL:-}
bash setup/deps.sh
if [ -n "$url" ]; then
    version=$(sed -n 's/^project(sessionend VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
    /usr/bin/python3 cmake/manifests.py check "$version"
fi
for preset in win64 winarm64 win32; do
    bash scripts/build.sh "$preset"
done
if [ -n "${SESSIONEND_SIGN_PKCS12:-}${SESSIONEND_SIGN_CERT:-}" ]; then
    echo "Signing the images and packages with ${SESSIONEND_SIGN_PKCS12:-$SESSIONEND_SIGN_CERT}"
else
    echo "No certificate named (SESSIONEND_SIGN_PKCS12 or SESSIONEND_SIGN_CERT): the release is unsigned"
fi
if [ -n "$url" ]; then
    echo "winget's and Scoop's manifests for $url"
else
    echo "No release URL named (SESSIONEND_RELEASE_URL): the release has no winget or Scoop manifest"
fi
rm -rf build/release
cpack --preset release >/dev/null
archive=$(ls build/release/sessionend-*.zip)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
/usr/bin/python3 -m zipfile -e "$archive" "$unpacked"
(cd "$unpacked" && sha256sum -c SHA256SUMS)
(cd build/release && sha256sum -c SHA256SUMS)
echo "Release, in build/release:"
(cd build/release && find . -name _CPack_Packages -prune -o -type f -printf '  %P\n' | sort)
