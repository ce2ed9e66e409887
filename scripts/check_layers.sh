#!/usr/bin/env bash
# Fails when a source file includes a header against the layering of the tree:
#
#   core, lowest first:  codec, wavefile, disk, volume, convert
#     each core folder includes only itself and the folders before it, with two narrowings:
#     wavefile takes only codec's block buffer, volume takes only disk's file-access interface;
#   adapters:            mount, transcode
#     each includes the core and itself, and nothing else;
#   front ends:          controls, app, cli
#     each includes the core, the adapters and itself, and no other front end (app may include
#     controls).
#
# Tests, benchmarks and fuzzing harnesses may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

core=(codec wavefile disk volume convert)
adapters=(mount transcode)
fronts=(controls app cli)

allowed() {  # allowed FOLDER INCLUDED-PATH
    local folder=$1 path=$2 target=${2%%/*}
    [[ $target == "$folder" ]] && return 0
    local i
    for i in "${!core[@]}"; do
        if [[ ${core[$i]} == "$folder" ]]; then
            local j
            for ((j = 0; j < i; ++j)); do
                if [[ ${core[$j]} == "$target" ]]; then
                    case $folder/$target in
                        wavefile/codec) [[ $path == codec/BlockBuffer.h ]] && return 0 || return 1 ;;
                        volume/disk) [[ $path == disk/DiskFiles.h ]] && return 0 || return 1 ;;
                    esac
                    return 0
                fi
            done
            return 1
        fi
    done
    # An adapter or a front end: the core; a front end also the adapters, and app controls.
    local c
    for c in "${core[@]}"; do
        [[ $c == "$target" ]] && return 0
    done
    for c in "${adapters[@]}"; do
        [[ $c == "$folder" ]] && return 1
    done
    for c in "${adapters[@]}"; do
        [[ $c == "$target" ]] && return 0
    done
    [[ $folder == app && $target == controls ]] && return 0
    return 1
}

failures=0
for folder in "${core[@]}" "${adapters[@]}" "${fronts[@]}"; do
    [[ -d $folder ]] || continue
    while IFS= read -r line; do
        file=${line%%:*}
        rest=${line#*:}
        path=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$rest")
        [[ $path == */* ]] || continue  # a header beside the file, or a system header
        if ! allowed "$folder" "$path"; then
            echo "layering: $file includes $path" >&2
            failures=$((failures + 1))
        fi
    done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include "' "$folder" --include='*.h' --include='*.cpp' || true)
done

if ((failures > 0)); then
    echo "layering: $failures include(s) against the order of the tree" >&2
    exit 1
fi
echo "layering: every include follows the order of the tree"
