# shellcheck shell=bash
# Reads the sections of a program's --help (CLI11's layout, which the desktop program's own
# help follows), so that the documentation tests know what there is to document.

# The commands listed under "Subcommands:".
help_commands() {
    "$@" --help | awk '/^Subcommands:/ {on = 1; next} /^[^ ]/ {on = 0} on && /^  [^ ]/ {print $1}'
}

# The long options listed under "Options:", one a line.
help_options() {
    "$@" --help | awk '
        /^Options:/ {on = 1; next}
        /^[^ ]/ {on = 0}
        on && /^  -/ {
            n = split($1, names, ",")
            for (i = 1; i <= n; i++) if (names[i] ~ /^--/) print names[i]
        }'
}

# The positional arguments listed under "Positionals:".
help_positionals() {
    "$@" --help | awk '/^Positionals:/ {on = 1; next} /^[^ ]/ {on = 0} on && /^  [^ ]/ {print $1}'
}

# "OPTION VALUE VALUE..." for every option whose help lists its values as {a,b,...}.
help_option_values() {
    "$@" --help | awk '
        /^Options:/ {on = 1; next}
        /^[^ ]/ {on = 0}
        on && /^  --/ && match($0, /\{[^}]*\}/) {
            values = substr($0, RSTART + 1, RLENGTH - 2)
            gsub(",", " ", values)
            print $1, values
        }'
}
