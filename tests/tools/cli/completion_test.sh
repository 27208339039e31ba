#!/usr/bin/env bash
# The bash completion as readline drives it, for the values that hold a colon: readline breaks
# words at a colon (COMP_WORDBREAKS), so after "--report json:" the word it completes is what
# follows the colon, and the words before it are split there too.
# Usage: completion_test.sh COMPLETION_FILE
set -euo pipefail
source "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch report.json notes.txt

# Completes LINE at its end as bash does: COMP_WORDS split at blanks, and at each colon (a word
# of its own) where COMP_WORDBREAKS holds one; an empty word after a trailing blank.
complete_line() {
    COMP_LINE=$1
    COMP_POINT=${#1}
    local split=$1
    if [[ $COMP_WORDBREAKS == *:* ]]; then split=${1//:/ : }; fi
    read -ra COMP_WORDS <<<"$split"
    if [[ $1 == *[[:space:]] ]]; then COMP_WORDS+=(""); fi
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _vudaduv
}

failures=0
expect() {
    local line=$1 wanted=$2 got
    complete_line "$line"
    got="${COMPREPLY[*]}"
    if [[ $got != "$wanted" ]]; then
        echo "'$line' (COMP_WORDBREAKS ${COMP_WORDBREAKS@Q}): offered '$got', wanted '$wanted'"
        failures=$((failures + 1))
    fi
}

COMP_WORDBREAKS=$' \t\n"\'><=;|&(:'
expect "vudaduv send --report " "json: html:"
expect "vudaduv send --report h" "html:"
expect "vudaduv send --report json:rep" "report.json"
expect "vudaduv sync --report html:no" "notes.txt"
expect "vudaduv sync --report " "json: html: metrics:"
expect "vudaduv sync --report m" "metrics:"
expect "vudaduv sync --report metrics:no" "notes.txt"
expect "vudaduv send --report json:report.json --fi" "--file"
expect "vudaduv sync --max-remove " ""
expect "vudaduv send --file rep" "report.json"
# Where the colon breaks no word, the completion replaces the whole word, format included.
COMP_WORDBREAKS=$' \t\n"\'><=;|&('
expect "vudaduv send --report json:rep" "json:report.json"
expect "vudaduv send --report html:no" "html:notes.txt"

[ "$failures" -eq 0 ] && echo "every completion as wanted"
