#!/usr/bin/env bash
# Takes docs/main-window.png: the desktop program under Xvfb with the demo disk chosen and its
# demo song loaded. The demo disk is made with the command-line program; a copy of the desktop
# program under its own name remembers that disk in its own preference file, so the user's
# preferences and a copy that is already running stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
OUTPUT=${OUTPUT:-docs/main-window.png}

for tool in xvfb-run "$BUILD/bin/korvowav-cli" "$BUILD/bin/korvowav"; do
    if ! command -v "$tool" >/dev/null 2>&1 && [ ! -x "$tool" ]; then
        echo "screenshot: $tool is missing (make deps; make build)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
image="$work/demo.img"
"$BUILD/bin/korvowav-cli" make-demo-disk "$image"

cp "$BUILD/bin/korvowav" "$work/korvowav-screenshot"
printf '[Preference]\nKorvoDriveLetter=%s\n' "$image" > "$work/korvowav-screenshot.ini"

mkdir -p "$(dirname "$OUTPUT")"
rm -f "$OUTPUT"
KORVOWAV_SCREENSHOT="$(realpath -m "$OUTPUT")" XDG_RUNTIME_DIR="$work" \
    xvfb-run -a -s "-screen 0 1024x768x24" "$work/korvowav-screenshot"
if [ ! -s "$OUTPUT" ]; then
    echo "screenshot: the program saved no picture" >&2
    exit 1
fi
echo "wrote $OUTPUT"
