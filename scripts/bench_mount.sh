#!/usr/bin/env bash
# Sequential read of a mounted 20-minute track against the export of the same track.
# Usage: scripts/bench_mount.sh [KORVOWAV_CLI]   (default build/bin/korvowav-cli)
# Prints both throughputs in MB/s of wave file and their ratio; needs sox, /dev/fuse and
# fusermount3.
set -euo pipefail
cli=$(realpath "${1:-build/bin/korvowav-cli}")
work=$(mktemp -d)
trap 'fusermount3 -uz "$work/mnt" 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work"

"$cli" make-demo-disk disk.img --quiet
sox -n -r 44100 -c 1 -b 16 long.wav synth 1200 pinknoise vol 0.3
"$cli" import disk.img --song 2 --track 1.1 long.wav --quiet

seconds() { date +%s.%N; }
start=$(seconds)
"$cli" export disk.img --song 2 --track 1.1 --output export.wav --quiet
export_time=$(echo "$(seconds) - $start" | bc)
bytes=$(stat -c %s export.wav)

mkdir mnt
"$cli" mount disk.img mnt --read-only
file="mnt/02 EMPTY/1.1 long.wav"
start=$(seconds)
cat "$file" >/dev/null
read_time=$(echo "$(seconds) - $start" | bc)
cmp -s "$file" export.wav || echo "mounted file differs from the export" >&2
"$cli" unmount mnt

echo "wave file:       $bytes bytes (20 minutes, mono)"
echo "export:          $(echo "scale=1; $bytes / $export_time / 1000000" | bc) MB/s ($export_time s)"
echo "mounted read:    $(echo "scale=1; $bytes / $read_time / 1000000" | bc) MB/s ($read_time s)"
echo "read / export:   $(echo "scale=0; 100 * $export_time / $read_time" | bc) %"
