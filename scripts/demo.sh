#!/usr/bin/env bash
# The main job on the bundled demo disk: make the disk, look at it, export a stereo pair and
# every track, import a wave file into a free virtual track, and say what was written where.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
CLI="$BUILD/bin/korvowav-cli"
OUT="$BUILD/demo"
rm -rf "$OUT"
mkdir -p "$OUT"
IMAGE="$OUT/demo-disk.img"

step() { printf '\n== %s\n$ %s\n' "$1" "${*:2}"; "${@:2}"; }

step "Make the demo disk (a FAT16 image with a recorder song)" "$CLI" make-demo-disk "$IMAGE"
step "What is on it" "$CLI" info "$IMAGE"
step "Its songs" "$CLI" songs "$IMAGE"
step "The virtual tracks of song 1 that hold data" \
    bash -c "\"$CLI\" tracks \"$IMAGE\" --song 1 | grep data"
step "Export drums (1.1) and bass (2.1) as one stereo WAV file" \
    "$CLI" export "$IMAGE" --song 1 --track 1.1 --track 2.1 --output "$OUT/drums-bass.wav"
step "Export every virtual track with data as its own mono file" \
    "$CLI" export-all "$IMAGE" --song 1 --output-dir "$OUT/tracks"
step "Import the stereo file into two free virtual tracks of song 2" \
    "$CLI" import "$IMAGE" --song 2 --track 1.1 --track 2.1 "$OUT/drums-bass.wav"
step "Song 2 now" bash -c "\"$CLI\" tracks \"$IMAGE\" --song 2 | grep data"
step "Import again over 1.1 of song 2: the bass alone this time" \
    "$CLI" import "$IMAGE" --song 2 --track 1.1 "$OUT/tracks/2.1 bass.wav"
step "Song 2 remembers both versions of 1.1" "$CLI" history "$IMAGE" --song 2 --track 1.1
step "Export 1.1 as the first import left it" \
    "$CLI" export "$IMAGE" --song 2 --track 1.1 --group 1 --output "$OUT/first-version.wav"

cat <<DONE

Done. Written:
  $IMAGE            the demo recorder disk (song 2 now holds the imported pair)
  $OUT/drums-bass.wav     drums and bass, one channel each
  $OUT/tracks/            one mono WAV file per virtual track
  $OUT/first-version.wav  1.1 of song 2 as the first import left it (history group 1)
Try the desktop program on it:  $BUILD/bin/korvowav  (open the image from the disk list)
DONE
