#!/usr/bin/env bash
# Checks that a program's man page and bash completion offer exactly the
# options of its --help.
# Usage: cli_docs.sh PROGRAM MANPAGE [COMPLETION SCRATCH_DIR]
# An option line of --help starts with blanks and "-": its heading is the
# words up to the description ("-e, --execute TEXT"). A man page heading is
# the line after .TP in the OPTIONS section, fonts removed.
set -uo pipefail

program=$1
manpage=$2
completion=${3:-}
scratch=${4:-}
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The option headings of --help, one per line, in order.
help_headings() {
    "$program" --help | awk '
        /^[ \t]+-/ {
            heading = ""
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^-/ || $i ~ /^[A-Z][A-Z0-9_]*$/) heading = heading (heading == "" ? "" : " ") $i
                else break
            }
            print heading
        }'
}

# The headings of the man page's OPTIONS entries, one per line, in order.
man_headings() {
    awk '
        /^\.SH/ { in_options = ($0 ~ /^\.SH "?OPTIONS"?$/); next }
        in_options && /^\.TP/ { take = 1; next }
        in_options && take { print; take = 0 }' "$manpage" |
        sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/  */ /g' -e 's/^ //' -e 's/ $//'
}

help=$(help_headings)
if [ -z "$help" ]; then
    fail "$program --help lists no options"
fi
man=$(man_headings)
if [ "$help" != "$man" ]; then
    fail "the OPTIONS of $manpage differ from $program --help (< --help, > man page):"
    diff <(echo "$help") <(echo "$man")
fi

if [ -n "$completion" ]; then
    # shellcheck disable=SC1091
    source /usr/share/bash-completion/bash_completion || fail "bash-completion is not installed"
    # shellcheck disable=SC1090
    source "$completion"
    name=$(basename "$program")
    function=$(complete -p "$name" 2>/dev/null | sed -n 's/.*-F \([^ ]*\).*/\1/p')
    [ -n "$function" ] || fail "$completion registers no completion for $name"

    # What Tab offers after the words given, the last being the one typed.
    offers() {
        COMP_WORDS=("$name" "$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="${COMP_WORDS[*]}"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        "$function" "$name" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
        printf '%s\n' "${COMPREPLY[@]}" | sort
    }
    expect() {
        local wanted=$1
        shift
        local got
        got=$(offers "$@" | tr '\n' ' ' | sed 's/ $//')
        [ "$got" = "$wanted" ] || fail "completing '$name $*': expected '$wanted', got '$got'"
    }

    help_options=$(echo "$help" | tr ' ,' '\n\n' | grep '^-' | sort)
    completed_options=$(offers -)
    if [ "$help_options" != "$completed_options" ]; then
        fail "the options of $completion differ from --help (< --help, > completion):"
        diff <(echo "$help_options") <(echo "$completed_options")
    fi

    mkdir -p "$scratch/dir" && cd "$scratch" || exit 1
    : >notes.zx
    : >./-dash.zx
    # After an option with a value: file names for a FILE, never for others.
    while read -r heading; do
        value=${heading##* }
        [[ $value == -* ]] && continue
        option=${heading% *}
        option=${option##* }
        if [ "$value" = FILE ]; then
            expect "notes.zx" "$option" no
        else
            offers "$option" "" | grep -qx notes.zx && fail "completing '$name $option ': offers files for $value"
        fi
    done <<<"$help"
    expect "--dump --dump-format" --du
    expect "detailed detailed,qualified qualified" --dump-format ""
    expect "detailed,qualified" --dump-format detailed,
    expect "qualified" --dump-format=q
    expect "notes.zx" --save=no
    expect "notes.zx" --typed no
    expect "dir" d
    expect "-dash.zx" -- -d
    expect "-dash.zx" -e 1 -- --typed -d
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "man page and completion match $(basename "$program") --help"
