#!/usr/bin/env bash
# Runs every fuzz harness for FUZZ_SECONDS on its corpus: the seeds the fixture builders make,
# the inputs saved under tests/fuzz/<harness>/, and what earlier runs found (kept in
# $BUILD/fuzz-corpus). A finding (crash, sanitizer report, broken promise, timeout, leak) is
# written to $BUILD/fuzz-findings/<harness>/ and makes the script fail.
#   BUILD=build-fuzz FUZZ_SECONDS=60 FUZZ_HARNESSES="song_list fat_walk" scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_HARNESSES=${FUZZ_HARNESSES:-song_list song_file event_list riff_wave aiff_wave fat_boot fat_walk take_chain}

# Seeds are made afresh for each run, in a folder of their own so that runs may overlap.
seeds=$(mktemp -d "$BUILD/fuzz-seeds.XXXXXX")
trap 'rm -rf "$seeds"' EXIT
"$BUILD/bin/korvo_fuzz_seeds" "$seeds" >/dev/null

# Inputs up to the size of the seeds: a few hundred bytes for recorder and wave files, a FAT
# image's first 64 KiB (the rest reads as zeros).
max_len() {
    case "$1" in
        fat_*|take_chain) echo 65536 ;;
        song_file) echo 4096 ;;
        *) echo 8192 ;;
    esac
}

failed=""
for harness in $FUZZ_HARNESSES; do
    corpus="$BUILD/fuzz-corpus/$harness"
    findings="$BUILD/fuzz-findings/$harness"
    mkdir -p "$corpus" "$findings"
    echo "== $harness: ${FUZZ_SECONDS}s"
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
         UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
         "$BUILD/bin/fuzz_$harness" "$corpus" "$seeds/$harness" "tests/fuzz/$harness" \
             -max_total_time="$FUZZ_SECONDS" -max_len="$(max_len "$harness")" -timeout=10 \
             -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
             2>"$BUILD/fuzz-$harness.log"; then
        failed="$failed $harness"
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec' \
        "$BUILD/fuzz-$harness.log" || true
done

if [ -n "$failed" ]; then
    echo "fuzz findings in:$failed (see $BUILD/fuzz-findings/ and $BUILD/fuzz-<harness>.log)" >&2
    exit 1
fi
