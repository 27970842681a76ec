#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. As root it
# installs whatever is missing; otherwise it prints the command and stops.
# Every name exists on Debian 12 and Debian 13 alike.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

packages=(
    cmake ninja-build g++ python3 git                       # build and test drivers
    g++-mingw-w64-x86-64 g++-mingw-w64-i686                 # the x64 and x86 targets
    clang libclang-rt-dev libgtest-dev                      # host tests, sanitizers, fuzzer
    lld llvm                                                # the ARM64 target: linker, import libraries
    clang-format clang-tidy cppcheck                        # style and static analysis
    wine wine64                                             # a real Win32 to run on
    osslsigncode openssl strip-nondeterminism               # signing (and a test certificate), a reproducible ZIP
    python3-unicorn python3-pefile python3-capstone         # a CPU to run on, and the image read
    wixl msitools gir1.2-libmsi-1.0 python3-gi              # Windows Installer packages
    python3-yaml python3-jsonschema                         # winget's and Scoop's manifests, and their schemas
    bubblewrap                                              # entering the Debian roots, the ARM64 one at every Wine call
    hyperfine                                               # benchmark
)

log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! install "$log" "${packages[@]}"; then
    [ -s "$log" ] && { cat "$log" >&2; echo "Installing the packages above failed; apt's output is above." >&2; }
    exit 1
fi
