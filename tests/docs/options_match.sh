#!/usr/bin/env bash
# The options each program's --help lists are the options its manual page describes:
# the long names (--output), the short ones (-o) and the -W spellings, taken from the
# option lines of --help and from the OPTIONS section of the page.
#   options_match.sh BIN_DIR MAN_DIR
set -euo pipefail
bin=$1 man=$2
status=0

# Spellings in text: --name, -x and -Wsomething, one per line, sorted and unique.
spellings() {
    grep -oE '(^|[^a-zA-Z0-9-])(--[a-z][a-z-]*|-[a-zA-Z]([a-zA-Z-]*)?)' |
        sed -E 's/^[^-]//' | sed -E 's/^(-W[a-z-]*).*/\1/; s/^(-[a-zA-VX-Z]).*/\1/' |
        grep -vx -- '-' | sort -u
}

for program in coff2efw efwdump; do
    # The option lines of --help start with two spaces and a dash.
    help=$("$bin/$program" --help | grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' | spellings)
    # The tags of the page's OPTIONS section (the line after each .TP), groff undone.
    page=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$man/$program.1" | awk 'tag { print; tag = 0 }
        /^\.TP/ { tag = 1 }' | sed -E 's/\\-/-/g; s/\\f[BIRP]//g; s/"//g' | spellings)
    if [ "$help" != "$page" ]; then
        echo "$program: --help and $program.1 list different options:"
        diff <(echo "$help") <(echo "$page") | sed 's/^/  /' || true
        status=1
    else
        echo "$program: $(echo "$help" | wc -l) spellings, the same in --help and $program.1"
    fi
done
exit $status
