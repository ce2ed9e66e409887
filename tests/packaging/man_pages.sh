#!/usr/bin/env bash
# The manual pages render without warnings and describe everything --help lists: every command
# of korvowav-cli in a section of its own, with its arguments and options (or the options under
# COMMON OPTIONS), and every option of the desktop program.
# Usage: man_pages.sh SOURCE_DIR KORVOWAV_CLI [KORVOWAV]
set -uo pipefail
source_dir=$1
cli=$2
gui=${3:-}
# shellcheck source=tests/packaging/help_sections.sh
source "$(dirname "$0")/help_sections.sh"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The page as plain words: roff's \- and \% and font changes removed.
page_text() {
    sed -e 's/\\-/-/g' -e 's/\\%//g' -e 's/\\f[BIPR]//g' "$1"
}

# Lines of the section that starts with the line matching $2, up to the next heading.
section() {
    awk -v start="$2" '$0 ~ start {on = 1; print; next} /^\.S[HS] / {on = 0} on' <<<"$1"
}

# Whether the text ($1) holds the word ($2) on its own, not as part of a longer option.
mentions() {
    local pattern="(^|[^A-Za-z0-9-])$2([^A-Za-z0-9-]|\$)"
    [[ $1 =~ $pattern ]]
}

check_renders() {
    local errors
    errors=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null)
    [[ -z $errors ]] || fail "$(basename "$1") renders with warnings: $errors"
}

cli_page=$source_dir/res/man/korvowav-cli.1
check_renders "$cli_page"
text=$(page_text "$cli_page")
common=$(section "$text" '^\.SH "?COMMON OPTIONS')
for option in $(help_options "$cli"); do
    mentions "$text" "$option" || fail "korvowav-cli.1 does not mention the option $option"
done
for command in $(help_commands "$cli"); do
    own=$(section "$text" "^\\.SS \"$command ")
    if [[ -z $own ]]; then
        fail "korvowav-cli.1 has no section '.SS \"$command ...\"' for the command $command"
        continue
    fi
    for argument in $(help_positionals "$cli" "$command"); do
        mentions "$own" "$argument" ||
            fail "korvowav-cli.1 does not name the argument $argument in the section of $command"
    done
    for option in $(help_options "$cli" "$command"); do
        mentions "$own" "$option" || mentions "$common" "$option" ||
            fail "korvowav-cli.1 describes the option $option of $command neither in the" \
                 "section of $command nor under COMMON OPTIONS"
    done
done

gui_page=$source_dir/res/man/korvowav.1
check_renders "$gui_page"
if [[ -n $gui ]]; then
    text=$(page_text "$gui_page")
    for option in $(help_options "$gui"); do
        mentions "$text" "$option" || fail "korvowav.1 does not mention the option $option"
    done
fi

((failures == 0)) || exit 1
echo "The manual pages describe every command and option."
