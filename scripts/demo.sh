#!/usr/bin/env bash
# Runs the main job on the bundled demo disk.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
CLI="$BUILD/bin/korvowav-cli"
"$CLI" --version
