#!/usr/bin/env bash
# The bash completion of korvowav-cli offers every command and every option that --help lists,
# the listed values of options such as --format, and file names for the disk.
# Usage: completion.sh COMPLETION_SCRIPT KORVOWAV_CLI
set -uo pipefail
script=$1
cli=$2
# shellcheck source=tests/packaging/help_sections.sh
source "$(dirname "$0")/help_sections.sh"
# shellcheck source=res/completion/korvowav-cli
source "$script"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Completes the last of the given words, as bash does after Tab; prints the offers a line each.
complete_words() {
    COMP_WORDS=(korvowav-cli "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    "$function" 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}"
}

# Every one of the expected words is among the offers.
expect_offers() {
    local what=$1 offers=$2
    shift 2
    local word
    for word in "$@"; do
        [[ $'\n'$offers$'\n' == *$'\n'"$word"$'\n'* ]] || fail "$what does not offer $word"
    done
}

registration=$(complete -p korvowav-cli 2>/dev/null)
function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"$registration")
if [[ -z $function ]]; then
    echo "FAIL: $script registers no completion function for korvowav-cli" >&2
    exit 1
fi

mapfile -t commands < <(help_commands "$cli")
expect_offers "completing the command" "$(complete_words "")" "${commands[@]}"
mapfile -t options < <(help_options "$cli")
expect_offers "completing a top-level option" "$(complete_words -)" "${options[@]}"

for command in "${commands[@]}"; do
    mapfile -t options < <(help_options "$cli" "$command")
    expect_offers "completing an option of $command" "$(complete_words "$command" disk.img -)" \
        "${options[@]}"
    while read -r -a values; do
        expect_offers "completing the value of ${values[0]} for $command" \
            "$(complete_words "$command" disk.img "${values[0]}" "")" "${values[@]:1}"
    done < <(help_option_values "$cli" "$command")
done

expect_offers "completing --track 3." "$(complete_words export disk.img --track 3.)" 3.1 3.8

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
touch "$folder/demo.img"
expect_offers "completing the disk" "$(cd "$folder" && complete_words songs de)" demo.img

((failures == 0)) || exit 1
echo "The completion offers every command, option and listed value."
