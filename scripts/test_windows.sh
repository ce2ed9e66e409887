#!/usr/bin/env bash
# The Windows build under Wine: the core's test programs (build-windows/bin/*_tests.exe), then
# the comparison of korvowav-cli.exe with the Linux build's korvowav-cli on the same inputs
# (ctest -L windows in the Linux build folder).
#
#   scripts/test_windows.sh [WINDOWS_BUILD] [LINUX_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
windows_build=${1:-build-windows}
linux_build=${2:-build}

wine=$(command -v wine64 || true)
[[ -n $wine ]] || { [[ -x /usr/lib/wine/wine64 ]] && wine=/usr/lib/wine/wine64; } || true
[[ -n $wine ]] || wine=$(command -v wine || true)
if [[ -z $wine ]]; then
    echo "test-windows: wine64 is not installed (make deps-windows installs it)" >&2
    exit 1
fi

# One Wine prefix for every run, made once inside the build folder.
export WINEPREFIX=$PWD/$windows_build/wineprefix WINEDEBUG=-all
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
fi

failed=0
for test in "$windows_build"/bin/*_tests.exe; do
    echo "== $(basename "$test") under Wine"
    if ! "$wine" "$test" --gtest_brief=1; then
        failed=1
    fi
done

ctest --test-dir "$linux_build" --output-on-failure -L windows || failed=1
exit $failed
