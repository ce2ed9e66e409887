#!/usr/bin/env bash
# Measures export and import against the plain file work they cannot avoid, and their peak
# memory for a short and a long song:
#   export of a two-track song from a folder  vs  reading its takes + writing a file that size
#   import of a stereo wave into an image      vs  reading the wave + writing the take bytes
# Usage: scripts/measure_engine.sh [build-dir]   (needs sox, mtools, GNU time)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLI="$BUILD/bin/korvowav-cli"
WORK=$(mktemp -d /tmp/korvowav-measure-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

seconds() { /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1; }

for minutes in 1 10 20; do
    image="$WORK/disk-$minutes.img"
    "$CLI" make-demo-disk "$image" --quiet
    # The disk needs room for the takes: a fresh, larger image is made by importing into it.
    sox -n -r 44100 -c 2 -b 16 "$WORK/in-$minutes.wav" synth $((minutes * 60)) sine 220 sine 331
    read -r t_import m_import < <(seconds "$CLI" import "$image" --song 2 --track 1.1 \
        --track 2.1 "$WORK/in-$minutes.wav" --quiet)
    take_bytes=$(mdir -i "$image" -a ::SONG0001.QMT | awk '/TAKE/ {s += $3} END {print s}')
    read -r t_base_in _ < <(seconds sh -c "cat '$WORK/in-$minutes.wav' > /dev/null; \
        head -c $take_bytes /dev/zero > '$WORK/takes.bin'; sync -f '$WORK/takes.bin'")

    folder="$WORK/folder-$minutes"
    mkdir "$folder"
    mcopy -s -i "$image" '::*' "$folder/"
    read -r t_export m_export < <(seconds "$CLI" export "$folder" --song 2 --track 1.1 \
        --track 2.1 --output "$WORK/out-$minutes.wav" --quiet)
    out_bytes=$(stat -c %s "$WORK/out-$minutes.wav")
    read -r t_base_out _ < <(seconds sh -c "cat '$folder'/SONG0001.QMT/TAKE* > /dev/null; \
        head -c $out_bytes /dev/zero > '$WORK/out.bin'")

    echo "$minutes min: import ${t_import}s (baseline ${t_base_in}s, peak ${m_import} KiB);" \
         "export ${t_export}s (baseline ${t_base_out}s, peak ${m_export} KiB)"
done
