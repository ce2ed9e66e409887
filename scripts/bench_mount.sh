#!/usr/bin/env bash
# Sequential read of a mounted 20-minute track against the export of the same track, in one run,
# interleaved, median of 5 (the page cache warm): `export --track 1.1` of song 2 into a wave file
# vs `cat` of the mounted "02 .../1.1 ....wav" to /dev/null. Every cat opens the file anew, and an
# open drops what the kernel cached of it, so every run reads through the mount.
#
# Usage: scripts/bench_mount.sh [build-dir [image]]   (make bench-mount; make bench-engine runs
#        it on its own material). Without an image, a demo disk with a 20-minute mono take on
#        song 2, track 1.1 is made once under build-dir/bench-mount. Needs sox, /dev/fuse and
#        fusermount3.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLI=$(realpath "$BUILD/bin/korvowav-cli")
RUNS=5

if [[ ! -e /dev/fuse ]] || ! command -v fusermount3 >/dev/null; then
    echo "mounted read         skipped: no /dev/fuse or no fusermount3"
    exit 0
fi

if [[ $# -ge 2 ]]; then
    IMAGE=$(realpath "$2")
else
    M="$BUILD/bench-mount"
    mkdir -p "$M"
    M=$(cd "$M" && pwd)
    IMAGE="$M/disk.img"
    if [[ ! -f "$M/ready" ]]; then
        echo "== making the material in $M (once)" >&2
        rm -f "$IMAGE" "$M/long.wav"
        "$CLI" make-demo-disk "$IMAGE" --quiet
        sox -n -r 44100 -c 1 -b 16 "$M/long.wav" synth 1200 pinknoise vol 0.3
        "$CLI" import "$IMAGE" --song 2 --track 1.1 "$M/long.wav" --quiet
        rm "$M/long.wav"
        touch "$M/ready"
    fi
fi

WORK=$(mktemp -d)
trap '"$CLI" unmount "$WORK/mnt" >/dev/null 2>&1 || fusermount3 -uz "$WORK/mnt" 2>/dev/null || true; rm -rf "$WORK"' EXIT
mkdir "$WORK/mnt"
"$CLI" mount "$IMAGE" "$WORK/mnt" --read-only >"$WORK/mount.log" 2>&1 || {
    cat "$WORK/mount.log" >&2
    exit 1
}
FILE=$(echo "$WORK"/mnt/02*/1.1*.wav)
OUT="$WORK/export.wav"

export_track() { "$CLI" export "$IMAGE" --song 2 --track 1.1 --output "$OUT" --quiet; }
read_mounted() { cat "$FILE" >/dev/null; }
elapsed() {  # command...: wall seconds
    local start end
    start=$EPOCHREALTIME
    "$@" >/dev/null
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}
# median, min and max of the numbers given
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

# Once each to warm the caches, and to check that the mount serves the export's bytes.
export_track
cmp -s "$FILE" "$OUT" || { echo "the mounted file differs from the export" >&2; exit 1; }
BYTES=$(stat -c %s "$OUT")

declare -a t_export t_read
for ((run = 1; run <= RUNS; ++run)); do
    rm -f "$OUT"
    t_export+=("$(elapsed export_track)")
    t_read+=("$(elapsed read_mounted)")
done

read -r e_med e_min e_max <<<"$(stats "${t_export[@]}")"
read -r r_med r_min r_max <<<"$(stats "${t_read[@]}")"
awk -v em="$e_med" -v emin="$e_min" -v emax="$e_max" -v rm="$r_med" -v rmin="$r_min" \
    -v rmax="$r_max" -v b="$BYTES" 'BEGIN {
    printf "mounted read 1 track %7.3f s (%.3f .. %.3f)  export  %7.3f s (%.3f .. %.3f)  read/export %4.0f %%  %6.1f M samples/s\n",
        rm, rmin, rmax, em, emin, emax, 100 * em / rm, b / 2 / rm / 1e6
    printf "target: mounted read >= 80 %% of the export of the same track (medians)\n" }'
