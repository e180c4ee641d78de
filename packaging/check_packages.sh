#!/usr/bin/env bash
# Checks the release packages as a user would use them.
#
#   usage: packaging/check_packages.sh PACKAGES LINUX_BIN
#
# PACKAGES holds what `cmake --workflow --preset package` made (build/package/packages);
# LINUX_BIN holds make_example for this host (build/package/bin). The zip is unpacked
# into a new directory and its coff2efw.exe started there under Wine, on the example
# object and the config.ini that came in the zip; the .deb is unpacked into a scratch
# root with dpkg -x, its coff2efw started by name through PATH in a project directory
# with the example config.ini it ships, and its manual pages formatted; the tar.gz must
# hold what the .deb holds. Needs Wine's 64-bit loader (WINE64, default
# /usr/lib/wine/wine64), dpkg-deb, groff and man.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 PACKAGES LINUX_BIN" >&2
    exit 2
fi
packages=$(realpath "$1")
linux_bin=$(realpath "$2")
wine=${WINE64:-/usr/lib/wine/wine64}
wineserver=${WINESERVER64:-$(dirname "$wine")/wineserver}

unset LANG LANGUAGE "${!LC_@}"
export LC_ALL=C

scratch=$(realpath "$(mktemp -d)")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    if [ -d "$WINEPREFIX" ]; then
        "$wineserver" -k >/dev/null 2>&1 || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
die() {
    echo "package checks: $*" >&2
    exit 1
}
fail() {
    echo "  FAIL: $*"
    failures=$((failures + 1))
}
pass() {
    echo "  ok: $*"
}

# The one file matching a pattern in PACKAGES.
one() {
    local matches=("$packages"/$1)
    [ "${#matches[@]}" -eq 1 ] && [ -f "${matches[0]}" ] || die "expected one $1 in $packages"
    printf '%s' "${matches[0]}"
}
zip_file=$(one 'coff2efw-*-win64.zip')
tgz_file=$(one 'coff2efw-*-Linux-x86_64.tar.gz')
deb_file=$(one 'coff2efw_*.deb')
version=$(basename "$zip_file" -win64.zip)
version=${version#coff2efw-}
[ -x "$linux_bin/make_example" ] || die "missing $linux_bin/make_example"

# Sorted list of the files (not directories) under a directory.
files_under() {
    (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
}

# Expect `$2` (a file) to hold exactly the text `$3`.
expect_text() {
    local what=$1 file=$2 text=$3
    if [ "$(cat "$file")" = "$text" ]; then
        pass "$what"
    else
        fail "$what: got"
        sed 's/^/    /' "$file" | head -20
    fi
}

# The image every package must write for the example object, from the .deb's converter.
echo "== .deb: $(basename "$deb_file")"
root=$scratch/root
dpkg-deb -x "$deb_file" "$root" || die "dpkg-deb -x failed"
got=$(files_under "$root")
want="usr/bin/coff2efw usr/bin/efwdump usr/share/doc/coff2efw/LICENSE usr/share/doc/coff2efw/README.md usr/share/doc/coff2efw/changelog.gz usr/share/doc/coff2efw/config.ini usr/share/doc/coff2efw/copyright usr/share/lintian/overrides/coff2efw usr/share/man/man1/coff2efw.1.gz usr/share/man/man1/efwdump.1.gz "
[ "$got" = "$want" ] && pass "files: $got" || fail "files: $got"
# What dpkg itself lists, owned by root.
# (The list goes to a file first: grep -q stopping early would break dpkg's pipe.)
dpkg -c "$deb_file" >"$scratch/deb.list"
if grep -Eq '^-rw-r--r-- root/root .* \./usr/share/doc/coff2efw/copyright$' "$scratch/deb.list"; then
    pass "dpkg -c lists usr/share/doc/coff2efw/copyright"
else
    fail "dpkg -c: no usr/share/doc/coff2efw/copyright owned by root"
fi
# The programs are linked statically: they need no package, and dpkg-shlibdeps found none.
depends=$(dpkg-deb -f "$deb_file" Depends)
[ -z "$depends" ] && pass "no Depends: the programs need no library" || fail "Depends: '$depends'"
maintainer=$(dpkg-deb -f "$deb_file" Maintainer)
[[ "$maintainer" =~ ^[^\<\>]+\ \<[^@\ ]+@[^@\ ]+\>$ ]] &&
    pass "Maintainer: $maintainer" || fail "Maintainer without an address: '$maintainer'"
[ -n "$(dpkg-deb -f "$deb_file" Description)" ] && pass "Description set" || fail "no Description"
doc=$root/usr/share/doc/coff2efw
# The machine-readable copyright file: its format line and the MIT text of LICENSE.
if head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
    diff <(sed -n 's/^ \.$//p; s/^ \(.\)/\1/p' "$doc/copyright" | sed -n '/^Permission/,$p') \
        <(sed -n '/^Permission/,$p' "$doc/LICENSE") >/dev/null; then
    pass "copyright: DEP-5 with the licence text of LICENSE"
else
    fail "copyright: not DEP-5, or its licence text differs from LICENSE"
fi
# The changelog's newest entry is this version, signed by the Maintainer.
entry=$(zcat "$doc/changelog.gz" 2>/dev/null | head -1)
signature=$(zcat "$doc/changelog.gz" 2>/dev/null | grep -m1 '^ -- ')
if [ "$entry" = "coff2efw ($version) unstable; urgency=medium" ] &&
    [[ "$signature" == " -- $maintainer  "* ]]; then
    pass "changelog.gz: $entry"
else
    fail "changelog.gz: '$entry' / '$signature'"
fi

# A project directory: the object, and the example profile copied from the package.
project=$scratch/project
mkdir "$project"
"$linux_bin/make_example" "$project/app.out" || die "make_example failed"
cp "$root/usr/share/doc/coff2efw/config.ini" "$project/"
# Started by name, as a shell finds it on PATH, it reads ./config.ini.
(cd "$project" && PATH=$root/usr/bin:$PATH coff2efw >"$scratch/deb.out" 2>"$scratch/deb.err")
status=$?
if [ "$status" -eq 0 ] && [ -s "$project/VELTARA-app.efw" ] && [ ! -s "$scratch/deb.err" ]; then
    pass "coff2efw from PATH converted app.out named by the shipped config.ini"
else
    fail "coff2efw: status $status, stderr: $(cat "$scratch/deb.err")"
fi
grep -q '^Entry Point = ' "$scratch/deb.out" && pass "listing printed" || fail "no listing"
reference=$scratch/VELTARA-app.efw
cp "$project/VELTARA-app.efw" "$reference" 2>/dev/null
if PATH=$root/usr/bin:$PATH efwdump "$reference" >"$scratch/dump.out" 2>"$scratch/dump.err"; then
    pass "efwdump accepts it: $(tail -1 "$scratch/dump.out")"
else
    fail "efwdump: $(cat "$scratch/dump.err")"
fi
"$root/usr/bin/coff2efw" --version >"$scratch/version" 2>&1
expect_text "--version" "$scratch/version" "coff2efw $version
Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file."

for page in coff2efw efwdump; do
    gz=$root/usr/share/man/man1/$page.1.gz
    warnings=$(zcat "$gz" | groff -ww -z -man 2>&1)
    [ -z "$warnings" ] && pass "groff -ww: no warning in $page.1" || fail "groff -ww $page.1: $warnings"
    MANWIDTH=80 man -l "$gz" >"$scratch/man.out" 2>"$scratch/man.err"
    if [ $? -eq 0 ] && [ ! -s "$scratch/man.err" ] && grep -q "^NAME" "$scratch/man.out" &&
        grep -q "^EXIT STATUS" "$scratch/man.out"; then
        pass "man -l $page.1.gz: $(wc -l <"$scratch/man.out") lines"
    else
        fail "man -l $page.1.gz: $(cat "$scratch/man.err")"
    fi
    # Looked up by name where the package put it.
    if MANPATH=$root/usr/share/man MANWIDTH=80 man "$page" 2>/dev/null | cmp -s - "$scratch/man.out"; then
        pass "man $page finds it in share/man"
    else
        fail "man $page does not find the page in $root/usr/share/man"
    fi
done

echo "== tar.gz: $(basename "$tgz_file")"
tree=$scratch/tgz
mkdir "$tree"
tar -xzf "$tgz_file" -C "$tree" || die "tar failed"
top=coff2efw-$version-Linux-x86_64
got=$(files_under "$tree")
want=$(files_under "$root/usr" | tr ' ' '\n' | sed "/./s|^|$top/|" | tr '\n' ' ')
[ "$got" = "$want" ] && pass "the .deb's files under $top/" || fail "files: $got"
for f in bin/coff2efw bin/efwdump share/man/man1/coff2efw.1.gz share/doc/coff2efw/config.ini; do
    cmp -s "$tree/$top/$f" "$root/usr/$f" || fail "$f differs from the .deb's"
done
"$tree/$top/bin/coff2efw" --version >"$scratch/version" 2>&1 &&
    pass "bin/coff2efw runs: $(head -1 "$scratch/version")" || fail "bin/coff2efw --version"

echo "== zip: $(basename "$zip_file")"
unpacked=$scratch/unpacked
mkdir "$unpacked"
unzip -q "$zip_file" -d "$unpacked" || die "unzip failed"
folder=$unpacked/coff2efw-$version-win64
got=$(files_under "$unpacked")
want="coff2efw-$version-win64/LICENSE coff2efw-$version-win64/README.md coff2efw-$version-win64/coff2efw.exe coff2efw-$version-win64/config.ini coff2efw-$version-win64/efwdump.exe "
[ "$got" = "$want" ] && pass "files: $got" || fail "files: $got"
grep -q $'^COFF_FILE=app.out\r$' "$folder/config.ini" &&
    pass "config.ini names app.out, CR LF line ends" || fail "config.ini: $(cat -A "$folder/config.ini")"
for f in README.md LICENSE; do
    cmp -s "$folder/$f" "$root/usr/share/doc/coff2efw/$f" || fail "$f differs from the .deb's"
done

[ -x "$wine" ] || die "missing $wine"
timeout 300 "$wine" wineboot -i >"$scratch/wineboot.log" 2>&1 ||
    die "wineboot failed: $(tail -5 "$scratch/wineboot.log")"
# What a user does: the object beside the unpacked program, then start it by its full
# path (as Explorer does) from elsewhere.
"$linux_bin/make_example" "$folder/app.out" || die "make_example failed"
(cd "$scratch" && timeout 60 "$wine" "$folder/coff2efw.exe" >"$scratch/win.out" 2>"$scratch/win.err")
status=$?
if [ "$status" -eq 0 ] && [ ! -s "$scratch/win.err" ]; then
    pass "coff2efw.exe converted app.out named by the zip's config.ini"
else
    fail "coff2efw.exe: status $status, stderr: $(cat "$scratch/win.err")"
fi
if cmp -s "$folder/VELTARA-app.efw" "$reference"; then
    pass "its image is byte-identical to the .deb converter's"
else
    fail "VELTARA-app.efw missing or different from the .deb converter's"
fi
sed 's/$/\r/' "$scratch/deb.out" | cmp -s - "$scratch/win.out" &&
    pass "its listing is the Linux one with CR LF" || fail "the listing differs from the Linux one"
if "$root/usr/bin/efwdump" "$folder/VELTARA-app.efw" >/dev/null 2>"$scratch/dump.err"; then
    pass "the Linux efwdump accepts it"
else
    fail "efwdump: $(cat "$scratch/dump.err")"
fi
(cd "$scratch" && timeout 60 "$wine" "$folder/efwdump.exe" "$folder/VELTARA-app.efw" \
    >"$scratch/windump.out" 2>"$scratch/windump.err")
status=$?
tr -d '\r' <"$scratch/windump.out" | cmp -s - "$scratch/dump.out" && [ "$status" -eq 0 ] &&
    pass "efwdump.exe lists it as the Linux efwdump does" ||
    fail "efwdump.exe: status $status, $(cat "$scratch/windump.err")"
(cd "$scratch" && timeout 60 "$wine" "$folder/coff2efw.exe" --version | tr -d '\r' >"$scratch/version")
expect_text "coff2efw.exe --version" "$scratch/version" "coff2efw $version
Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file."

if [ "$failures" -ne 0 ]; then
    echo "package checks: $failures failed" >&2
    exit 1
fi
echo "package checks: all passed"
