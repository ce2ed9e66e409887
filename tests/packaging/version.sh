#!/usr/bin/env bash
# Each program prints "NAME VERSION" with the build's version, the desktop program without a
# display to connect to.
# Usage: version.sh VERSION PROGRAM...
set -uo pipefail
version=$1
shift
failures=0
for program in "$@"; do
    expected="$(basename "$program") $version"
    actual=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version 2>&1)
    if [[ $actual != "$expected" ]]; then
        echo "FAIL: $program --version printed '$actual', not '$expected'" >&2
        failures=$((failures + 1))
    fi
done
((failures == 0))
