#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages. As root it
# installs whatever is missing; otherwise it prints the command and stops.
# Every name exists on Debian 12 and Debian 13 alike.
set -euo pipefail

packages=(
    cmake ninja-build g++ python3 git                       # build and test drivers
    g++-mingw-w64-x86-64 g++-mingw-w64-i686                 # the x64 and x86 targets
    clang libclang-rt-dev libgtest-dev                      # host tests, sanitizers, fuzzer
    lld llvm                                                # the ARM64 target: linker, import libraries
    clang-format clang-tidy cppcheck                        # style and static analysis
    wine wine64                                             # a real Win32 to run on
    osslsigncode openssl strip-nondeterminism               # signing (and a test certificate), a reproducible ZIP
    python3-unicorn python3-pefile python3-capstone         # a CPU to run on, and the image read
    hyperfine                                               # benchmark
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y --no-remove ${missing[*]}" >&2
    exit 1
fi
echo "Installing: ${missing[*]}" >&2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Quiet when it works; apt's whole output, the resolver's reasons included,
# when it does not. A mirror in the middle of a sync may fail one index, which
# matters only if a package cannot be had. Never remove a package to make room
# for another.
apt-get update >"$log" 2>&1 || echo "apt-get update reported errors; going on with the lists that arrived." >&2
if ! DEBIAN_FRONTEND=noninteractive apt-get install -y --no-remove "${missing[@]}" >"$log" 2>&1; then
    cat "$log" >&2
    echo "Installing the packages above failed; apt's output is above." >&2
    exit 1
fi
