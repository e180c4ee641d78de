#!/usr/bin/env bash
# The options each program's --help lists are the options its manual page describes:
# the long names (--output), the short ones (-o) and the -W spellings, taken from the
# option lines of --help and from the OPTIONS section of the page. With README, every
# option its everyday table names (the first column) is one coff2efw's --help lists.
#   options_match.sh BIN_DIR MAN_DIR [README]
set -euo pipefail
bin=$1 man=$2 readme=${3:-}
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

if [ -n "$readme" ]; then
    help=$("$bin/coff2efw" --help | grep -E '^ +-' | sed -E 's/^ +//; s/  .*//' | spellings)
    table=$(sed -n '/^## Everyday options/,/^## /p' "$readme" | grep -E '^\| `-' |
        cut -d'|' -f2 | spellings)
    unknown=$(comm -23 <(echo "$table") <(echo "$help"))
    if [ -z "$table" ]; then
        echo "README: no everyday options table"
        status=1
    elif [ -n "$unknown" ]; then
        echo "README: the everyday options name what coff2efw --help does not list:"
        echo "$unknown" | sed 's/^/  /'
        status=1
    else
        echo "README: $(echo "$table" | wc -l) spellings, each one coff2efw --help lists"
    fi
fi
exit $status
