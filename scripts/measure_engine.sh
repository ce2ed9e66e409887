#!/usr/bin/env bash
# Export and import against the plain file work they cannot avoid, in one run, interleaved,
# median of 5 (the page cache warm, no fsync on either side):
#   export of a 20-minute two-track song from a folder disk   vs  cat of its takes to /dev/null,
#   export of the same song from a disk image                     then the output's byte count
#                                                                  from /dev/zero into a file
#                                                                  next to the output
#   import of a 10-minute 16-bit stereo wave into a disk image vs  cat of the wave, then the
#                                                                  take bytes from /dev/zero
#                                                                  into a file next to the image
# Then the samples per second of each, a sequential read of one track through the mount against
# the export of that track (scripts/bench_mount.sh), the codec's per-core figures (bench_codec),
# and the peak memory of export and import for a 1-minute and a 2-hour song.
#
# Usage: scripts/measure_engine.sh [build-dir]    (make bench-engine; needs sox, mtools,
#        dosfstools and GNU time). The material is made once under build-dir/bench-engine.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
CLI="$BUILD/bin/korvowav-cli"
CODEC_BENCH="$BUILD/bin/bench_codec"
MATERIAL="$BUILD/bench-engine"
RUNS=5
TRACKS=(--song 2 --track 1.1 --track 2.1)
mkdir -p "$MATERIAL"
M=$(cd "$MATERIAL" && pwd)

note() { echo "== $*" >&2; }

# --- material, made once ------------------------------------------------------------------
if [[ ! -f "$M/ready" ]]; then
    note "making the material in $M (once)"
    rm -rf "${M:?}"/*
    "$CLI" make-demo-disk "$M/empty.img" --quiet
    sox -n -r 44100 -c 2 -b 16 "$M/in-10min.wav" synth 600 sine 220 sine 331 vol 0.5
    sox "$M/in-10min.wav" "$M/in-10min.wav" "$M/in-20min.wav"
    cp --sparse=always "$M/empty.img" "$M/song.img"
    "$CLI" import "$M/song.img" "${TRACKS[@]}" "$M/in-20min.wav" --quiet
    rm "$M/in-20min.wav"
    mkdir "$M/folder"
    mcopy -s -i "$M/song.img" '::*' "$M/folder/"
    touch "$M/ready"
fi

# --- timing -------------------------------------------------------------------------------
now() { echo "$EPOCHREALTIME"; }
elapsed() {  # command...: wall seconds
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }'
}
# median, min and max of the numbers given
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f", v[int((NR + 1) / 2)], v[1], v[NR] }'; }

WORK="$M/work"
rm -rf "$WORK"
mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT
TAKES=("$M"/folder/SONG0001.QMT/TAKE*)
OUT="$WORK/out.wav"

export_folder() { "$CLI" export "$M/folder" "${TRACKS[@]}" --output "$OUT" --quiet; }
export_image() { "$CLI" export "$M/song.img" "${TRACKS[@]}" --output "$OUT" --quiet; }
import_image() { "$CLI" import "$WORK/import.img" "${TRACKS[@]}" "$M/in-10min.wav" --quiet; }
# cat of the source, then `bytes` zero bytes into a new file in `folder`
baseline() {  # bytes folder sources...
    local bytes=$1 folder=$2
    shift 2
    cat "$@" >/dev/null
    head -c "$bytes" /dev/zero >"$folder/baseline.bin"
}

# One export to learn the output size and the take bytes an import writes; warms the cache.
export_folder
OUT_BYTES=$(stat -c %s "$OUT")
cp --sparse=always "$M/empty.img" "$WORK/import.img"
import_image
IMPORT_BYTES=$(mdir -i "$WORK/import.img" -a ::SONG0001.QMT | awk '/TAKE/ { s += $3 } END { print s }')
cat "${TAKES[@]}" "$M/in-10min.wav" "$M/song.img" >/dev/null

declare -a t_ef t_bf t_ei t_bi t_im t_bm
for ((run = 1; run <= RUNS; ++run)); do
    rm -f "$OUT" "$WORK/baseline.bin"
    t_ef+=("$(elapsed export_folder)")
    rm -f "$OUT" "$WORK/baseline.bin"
    t_bf+=("$(elapsed baseline "$OUT_BYTES" "$WORK" "${TAKES[@]}")")
    rm -f "$OUT" "$WORK/baseline.bin"
    t_ei+=("$(elapsed export_image)")
    rm -f "$OUT" "$WORK/baseline.bin"
    t_bi+=("$(elapsed baseline "$OUT_BYTES" "$WORK" "${TAKES[@]}")")
    rm -f "$WORK/baseline.bin"
    cp --sparse=always "$M/empty.img" "$WORK/import.img"
    t_im+=("$(elapsed import_image)")
    t_bm+=("$(elapsed baseline "$IMPORT_BYTES" "$WORK" "$M/in-10min.wav")")
done

echo "load: $(uptime)"
echo "medians of $RUNS, interleaved; seconds as median (min .. max)"
report() {  # name samples engine-times... -- baseline-times...
    local name=$1 samples=$2
    shift 2
    local engine=() base=()
    while [[ $1 != -- ]]; do engine+=("$1"); shift; done
    shift
    base=("$@")
    read -r em emin emax <<<"$(stats "${engine[@]}")"
    read -r bm bmin bmax <<<"$(stats "${base[@]}")"
    awk -v n="$name" -v em="$em" -v emin="$emin" -v emax="$emax" -v bm="$bm" -v bmin="$bmin" \
        -v bmax="$bmax" -v s="$samples" 'BEGIN {
        printf "%-20s %7.3f s (%.3f .. %.3f)  baseline %7.3f s (%.3f .. %.3f)  ratio %5.2fx  %6.1f M samples/s\n",
            n, em, emin, emax, bm, bmin, bmax, em / bm, s / em / 1e6 }'
}
SONG_SAMPLES=$((OUT_BYTES / 2))
WAVE_SAMPLES=$((600 * 44100 * 2))
report "export from folder" "$SONG_SAMPLES" "${t_ef[@]}" -- "${t_bf[@]}"
report "export from image" "$SONG_SAMPLES" "${t_ei[@]}" -- "${t_bi[@]}"
report "import into image" "$WAVE_SAMPLES" "${t_im[@]}" -- "${t_bm[@]}"
echo "targets: export <= 1.5x, import <= 4x the baseline"

# --- a mounted track against its export (song 2, track 1.1 of the same image) ---------------
./scripts/bench_mount.sh "$BUILD" "$M/song.img" || echo "mounted read         failed (see above)"

# --- the codec on one core ------------------------------------------------------------------
if [[ -x $CODEC_BENCH ]]; then
    echo "codec, one core, samples per second (BM_...Run/width/kernel: 0 portable, 1 vector):"
    "$CODEC_BENCH" --benchmark_filter='Run/' 2>/dev/null |
        awk '/^BM_/ { for (i = 1; i <= NF; ++i) if ($i ~ /items_per_second=/) print "  " $1, $i }'
fi

# --- peak memory: a 1-minute and a 2-hour song --------------------------------------------
# A wave of silence written sparse: a RIFF header and a hole.
sparse_wave() {  # path seconds
    local frames=$(($2 * 44100)) data
    data=$((frames * 4))
    le32() {  # a 32-bit little-endian value
        local escaped
        escaped=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) \
            $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))
        printf '%b' "$escaped"
    }
    {
        printf 'RIFF'; le32 $((36 + data)); printf 'WAVEfmt '; le32 16
        printf '\x01\x00\x02\x00'; le32 44100; le32 $((44100 * 4)); printf '\x04\x00\x10\x00'
        printf 'data'; le32 "$data"
    } >"$1"
    truncate -s $((44 + data)) "$1"
}
# A recorder disk image of the demo disk's songs, 1.5 GiB, room for two hours of two tracks.
big_image() {  # path
    local files="$WORK/demo-files"
    mkdir -p "$files"
    mcopy -s -i "$M/empty.img" '::*' "$files/"
    truncate -s 1536M "$1"
    mkfs.fat -F 16 -S 512 -s 128 "$1" >/dev/null
    mcopy -s -i "$1" "$files"/* ::
}
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
echo "peak memory (KiB):"
for length in 60 7200; do
    sparse_wave "$WORK/memory.wav" "$length"
    if ((length > 3600)); then big_image "$WORK/memory.img"; else
        cp --sparse=always "$M/empty.img" "$WORK/memory.img"; fi
    m_import=$(peak "$CLI" import "$WORK/memory.img" "${TRACKS[@]}" "$WORK/memory.wav" --quiet)
    rm -f "$WORK/memory.wav"
    m_export=$(peak "$CLI" export "$WORK/memory.img" "${TRACKS[@]}" --output "$OUT" --quiet)
    echo "  $((length / 60)) min: import $m_import, export $m_export"
    rm -f "$OUT" "$WORK/memory.img"
done
