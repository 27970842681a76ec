#!/usr/bin/env bash
# build_failure.sh SOURCE: a build error must reach the user. scripts/run.sh,
# on a copy of the source with a broken file, must fail and show the
# compiler's message.
set -euo pipefail
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
tar -C "$1" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
echo "int broken(" >>"$copy/app/main.cpp"
if output=$(bash "$copy/scripts/run.sh" 0 2>&1); then
    echo "FAIL: scripts/run.sh succeeded with a broken source file"
    exit 1
fi
if ! grep -q "main.cpp:[0-9]*:[0-9]*: error" <<<"$output"; then
    printf 'FAIL: scripts/run.sh failed without the compiler'"'"'s message; it said:\n%s\n' "$output"
    exit 1
fi
echo "build failure shown: 1 passed, 0 failed"
