#!/usr/bin/env bash
# End-to-end checks of the Windows build under Wine, against the Linux build on the same
# input.
#
#   usage: tests/windows/wine_checks.sh LINUX_BIN WINDOWS_BIN
#
# LINUX_BIN holds coff2efw, efwdump and make_wine_input built for this host (the demo
# preset's build/demo/bin); WINDOWS_BIN holds coff2efw.exe, efwdump.exe,
# mbsearch_compare.exe and profile_compare.exe (the windows preset's build/windows/bin).
# Needs Wine's 64-bit loader (WINE64, default /usr/lib/wine/wine64) and localedef. Every
# run of a Windows program is bounded by a time-out; the Wine prefix is made once, in a
# temporary directory, and removed at the end.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 LINUX_BIN WINDOWS_BIN" >&2
    exit 2
fi
linux_bin=$(realpath "$1")
win_bin=$(realpath "$2")
wine=${WINE64:-/usr/lib/wine/wine64}
wineserver=${WINESERVER64:-$(dirname "$wine")/wineserver}
# A run takes about a second; a hung Wine must not eat CI's time. Each run gets at most
# per_run_timeout seconds, and the whole script (prefix included) at most budget seconds.
per_run_timeout=60
budget=600

# Every run names its locale itself.
unset LANG LANGUAGE "${!LC_@}"

scratch=$(realpath "$(mktemp -d)")
logs=$scratch/logs
mkdir "$logs"
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all
# No .NET or HTML engine installers: console programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    if [ -d "$WINEPREFIX" ]; then
        "$wineserver" -k >/dev/null 2>&1 || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

die() {
    echo "wine checks: $*" >&2
    exit 1
}

for f in "$linux_bin/coff2efw" "$linux_bin/efwdump" "$linux_bin/make_wine_input" \
    "$win_bin/coff2efw.exe" "$win_bin/efwdump.exe" "$win_bin/mbsearch_compare.exe" \
    "$win_bin/profile_compare.exe" "$wine"; do
    [ -x "$f" ] || [ -f "$f" ] || die "missing $f"
done

# Wine takes the ANSI code page from the Unix locale, so the locales have to exist.
for l in ja_JP zh_CN ko_KR zh_TW; do
    if ! locale -a 2>/dev/null | grep -qix "$l.utf-\?8"; then
        localedef -i "$l" -f UTF-8 "$l.UTF-8" >/dev/null 2>&1 || true
        locale -a 2>/dev/null | grep -qix "$l.utf-\?8" || die "cannot generate locale $l.UTF-8"
    fi
done

start=$SECONDS
timeout 300 "$wine" wineboot -i >"$logs/wineboot.log" 2>&1 ||
    die "wineboot failed: $(tail -5 "$logs/wineboot.log")"
echo "Wine prefix ready in $((SECONDS - start)) s"

# The Windows name of a Unix path: Wine maps / to drive Z:.
winpath() {
    local p=$1
    printf 'Z:%s' "${p//\//\\}"
}

win() {
    local left=$((budget - SECONDS))
    if [ "$left" -le 0 ]; then
        echo "wine checks: out of time" >&2
        return 124
    fi
    timeout "$((left < per_run_timeout ? left : per_run_timeout))" "$wine" "$@"
}

# The reference: the Linux build's image and its C-locale listing for the same input.
ref=$scratch/linux
mkdir "$ref"
"$linux_bin/make_wine_input" "$ref/firmware.out" "$ref/config.ini" || die "make_wine_input failed"
cp "$linux_bin/coff2efw" "$ref/"
(cd "$ref" && LC_ALL=C ./coff2efw >"$logs/linux.out" 2>"$logs/linux.err") ||
    die "the Linux build failed: $(cat "$logs/linux.err")"
image=VELTARA-firmware.efw
[ -s "$ref/$image" ] || die "the Linux build wrote no image"
# A Windows console program's standard output is in text mode: every line ends in CR LF.
sed 's/$/\r/' "$logs/linux.out" >"$logs/expected.out"

# A directory holding the converter under the name `$2`, the input and a config.ini whose
# COFF_FILE is `$3` (default: the input).
make_dir() {
    local dir=$1 exe=$2 name=${3:-}
    mkdir -p "$dir"
    cp "$win_bin/coff2efw.exe" "$dir/$exe"
    cp "$ref/firmware.out" "$dir/"
    if [ -n "$name" ]; then
        printf '[CONFIG]\r\nCOFF_FILE=%s\r\n' "$name" >"$dir/config.ini"
    else
        cp "$ref/config.ini" "$dir/"
    fi
}

listing() {
    (cd "$1" && LC_ALL=C ls -A)
}

# Status, image, standard output and standard error of a successful run in `$1`.
expect_success() {
    local dir=$1 log=$2 status=$3
    local ok=0
    if [ "$status" -ne 0 ]; then
        echo "  exit status $status; standard error: $(cat "$log.err")"
        return 1
    fi
    if ! cmp "$ref/$image" "$dir/$image"; then
        echo "  the image differs from the Linux build's"
        ok=1
    fi
    if ! cmp "$logs/expected.out" "$log.out"; then
        echo "  standard output differs from the Linux build's (CR LF line ends):"
        diff <(cat -A "$logs/expected.out") <(cat -A "$log.out") | head -20
        ok=1
    fi
    if [ -s "$log.err" ]; then
        echo "  standard error is not empty: $(cat "$log.err")"
        ok=1
    fi
    return $ok
}

# A failed run: status 1, nothing on standard output, exactly `$3` on standard error, and
# the directory as it was.
expect_failure() {
    local dir=$1 log=$2 status=$3 line=$4 before=$5
    local ok=0
    if [ "$status" -ne 1 ]; then
        echo "  exit status $status, expected 1"
        ok=1
    fi
    if [ -s "$log.out" ]; then
        echo "  standard output is not empty: $(head -3 "$log.out")"
        ok=1
    fi
    local err
    err=$(cat "$log.err")
    if [ "$err" != "$line"$'\r' ]; then
        echo "  standard error:"
        printf '%s\n' "$err" | cat -A
        echo "  expected:"
        printf '%s\r\n' "$line" | cat -A
        ok=1
    fi
    if [ "$(listing "$dir")" != "$before" ]; then
        echo "  the directory changed: $(listing "$dir" | tr '\n' ' ')"
        ok=1
    fi
    return $ok
}

check_full_path_with_space() {
    local dir="$scratch/dir with space" log=$logs/full
    make_dir "$dir" coff2efw.exe
    # An older image must be replaced in one step, not refused.
    printf 'an image from an earlier run' >"$dir/$image"
    (cd "$scratch" && LC_ALL=C win "$dir/coff2efw.exe" >"$log.out" 2>"$log.err")
    expect_success "$dir" "$log" $? || return 1
    # No temporary file left behind.
    local files
    files=$(listing "$dir" | tr '\n' ' ')
    if [ "$files" != "$image coff2efw.exe config.ini firmware.out " ]; then
        echo "  unexpected files: $files"
        return 1
    fi
}

check_bare_name() {
    local dir=$scratch/bare log=$logs/bare
    make_dir "$dir" coff2efw.exe
    # Through cmd, argument zero is the name as typed, with no directory.
    (cd "$dir" && LC_ALL=C win cmd /c coff2efw.exe >"$log.out" 2>"$log.err")
    expect_success "$dir" "$log" $? || return 1

    # The input path in the message shows both that argument zero had no directory and
    # that .\config.ini was read (the default name would be ZOV-KARN.efw).
    dir=$scratch/bare-missing
    log=$logs/bare-missing
    make_dir "$dir" coff2efw.exe nope.out
    rm "$dir/firmware.out"
    local before
    before=$(listing "$dir")
    (cd "$dir" && LC_ALL=C win cmd /c coff2efw.exe >"$log.out" 2>"$log.err")
    expect_failure "$dir" "$log" $? \
        "coff2efw: error: nope.out: cannot open: No such file or directory" "$before"
}

check_double_byte_name() {
    # 表 is 0x95 0x5C in code page 932: a byte-wise search would end the program
    # directory inside it, miss config.ini and look for ZOV-KARN.efw.
    local dir=$scratch/jp log=$logs/jp
    make_dir "$dir" 表.exe
    (cd "$scratch" && LC_ALL=ja_JP.UTF-8 win "$dir/表.exe" >"$log.out" 2>"$log.err")
    expect_success "$dir" "$log" $? || return 1

    dir=$scratch/jp-missing
    log=$logs/jp-missing
    make_dir "$dir" 表.exe nope.out
    rm "$dir/firmware.out"
    local before
    before=$(listing "$dir")
    (cd "$scratch" && LC_ALL=ja_JP.UTF-8 win "$dir/表.exe" >"$log.out" 2>"$log.err")
    expect_failure "$dir" "$log" $? \
        "coff2efw: error: $(winpath "$dir")\\nope.out: cannot open: No such file or directory" \
        "$before"
}

check_missing_input() {
    local dir="$scratch/missing input" log=$logs/missing
    make_dir "$dir" coff2efw.exe nope.out
    rm "$dir/firmware.out"
    local before
    before=$(listing "$dir")
    (cd "$scratch" && LC_ALL=C win "$dir/coff2efw.exe" >"$log.out" 2>"$log.err")
    expect_failure "$dir" "$log" $? \
        "coff2efw: error: $(winpath "$dir")\\nope.out: cannot open: No such file or directory" \
        "$before"
}

# efwdump.exe --against: the converted image goes to a scratch file that Windows deletes
# on close; the answers equal the Linux build's.
check_efwdump_against() {
    local dir=$scratch/against log=$logs/against ok=0
    mkdir -p "$dir"
    cp "$win_bin/efwdump.exe" "$ref/firmware.out" "$ref/$image" "$dir/"
    # One byte of the first record's data changed.
    cp "$ref/$image" "$dir/changed.efw"
    printf '\x5a' | dd of="$dir/changed.efw" bs=1 seek=$((0x900)) conv=notrunc status=none
    local name status
    for name in "$image" changed.efw; do
        (cd "$dir" && "$linux_bin/efwdump" --against firmware.out "$name" >"$log.linux.out" 2>&1)
        local want=$?
        if [ "$name" = changed.efw ] && [ "$want" -ne 1 ]; then
            echo "  the Linux build passed the changed image: $(cat "$log.linux.out")"
            ok=1
        fi
        (cd "$dir" && LC_ALL=C win efwdump.exe --against firmware.out "$name" >"$log.out" 2>&1)
        status=$?
        if [ "$status" -ne "$want" ]; then
            echo "  $name: exit status $status, the Linux build's $want: $(cat "$log.out")"
            ok=1
        fi
        if [ "$(sed 's/$/\r/' "$log.linux.out")" != "$(cat "$log.out")" ]; then
            echo "  $name: the answer differs from the Linux build's:"
            cat -A "$log.linux.out" "$log.out" | head -4
            ok=1
        fi
    done
    local left
    left=$(find "$WINEPREFIX/drive_c" -iname 'efw*.tmp' | head -3)
    if [ -n "$left" ]; then
        echo "  scratch files left behind: $left"
        ok=1
    fi
    return $ok
}

check_multibyte_search() {
    local ok=0 pair locale code_page
    for pair in ja_JP:932 zh_CN:936 ko_KR:949 zh_TW:950; do
        locale=${pair%:*}.UTF-8
        code_page=${pair#*:}
        LANG=$locale win "$win_bin/mbsearch_compare.exe" "$code_page" >"$logs/mb$code_page.out" 2>&1
        local status=$?
        sed 's/\r$//; s/^/  /' "$logs/mb$code_page.out" | grep -v '^  note:'
        [ "$status" -eq 0 ] || ok=1
    done
    return $ok
}

check_config_directory() {
    # The system reader takes a config.ini it cannot read for an absent one; the converter
    # must refuse it instead of converting ZOV-KARN.efw.
    local dir=$scratch/config-dir log=$logs/config-dir
    make_dir "$dir" coff2efw.exe
    rm "$dir/config.ini"
    mkdir "$dir/config.ini"
    cp "$ref/firmware.out" "$dir/ZOV-KARN.efw"
    local before
    before=$(listing "$dir")
    (cd "$scratch" && LC_ALL=C win "$dir/coff2efw.exe" >"$log.out" 2>"$log.err")
    expect_failure "$dir" "$log" $? \
        "coff2efw: error: $(winpath "$dir")\\config.ini: cannot read: Is a directory" "$before"
}

check_profile_reader() {
    # In the C locale Wine's ANSI code page is 1252, in which every byte of the table's
    # files is a character.
    local dir=$scratch/profiles
    mkdir "$dir"
    LC_ALL=C win "$win_bin/profile_compare.exe" "$(winpath "$dir")" >"$logs/profiles.out" 2>&1
    local status=$?
    sed 's/\r$//; s/^/  /' "$logs/profiles.out"
    return $status
}

# The version resource and the manifest of both programs, made from the project's
# version: the one the Linux build's --version prints.
check_version_resources() {
    local version ok=0 exe text
    version=$("$linux_bin/coff2efw" --version | head -1)
    version=${version#coff2efw }
    for exe in coff2efw efwdump; do
        # The resource's strings are UTF-16: each name followed by its value.
        text=$(strings -el "$win_bin/$exe.exe")
        local key want
        for key in FileVersion ProductVersion ProductName FileDescription LegalCopyright; do
            case $key in
            FileVersion | ProductVersion) want=$version ;;
            ProductName) want=coff2efw ;;
            FileDescription) want=. ;;
            LegalCopyright) want='MIT licence' ;;
            esac
            if ! grep -A1 -x "$key" <<<"$text" | tail -1 | grep -q -- "$want"; then
                echo "  $exe.exe: no $key with '$want': $(grep -A1 -x "$key" <<<"$text" | tail -1)"
                ok=1
            fi
        done
        # The manifest is UTF-8 text in the resource section.
        text=$(strings "$win_bin/$exe.exe")
        if ! grep -q '<longPathAware[^>]*>true</longPathAware>' <<<"$text"; then
            echo "  $exe.exe: no longPathAware in its manifest"
            ok=1
        fi
        if ! grep -q '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' <<<"$text"; then
            echo "  $exe.exe: the manifest names no Windows 10 as supported"
            ok=1
        fi
        # The profile and path rules work in the system's ANSI code page.
        if grep -q '<activeCodePage' <<<"$text"; then
            echo "  $exe.exe: the manifest sets the process's code page"
            ok=1
        fi
    done
    [ "$ok" -eq 0 ] && echo "  version $version, longPathAware, in coff2efw.exe and efwdump.exe"
    return $ok
}

# An input and an image in a directory whose path is over 260 characters. Windows allows
# it to a longPathAware program when long paths are enabled (as they are here, in the
# prefix's registry); Wine may not honour the manifest, and then the run must still fail
# cleanly, which is reported and not counted as a failure.
check_long_path() {
    local dir=$scratch/long log=$logs/long part
    for part in a b c; do
        dir=$dir/$(printf "$part%.0s" $(seq 90))
    done
    mkdir -p "$dir"
    cp "$ref/firmware.out" "$dir/"
    local input
    input="$(winpath "$dir")\\firmware.out"
    win reg add 'HKLM\SYSTEM\CurrentControlSet\Control\FileSystem' /v LongPathsEnabled \
        /t REG_DWORD /d 1 /f >"$logs/reg.out" 2>&1 || {
        echo "  cannot enable long paths in the prefix: $(cat "$logs/reg.out")"
        return 1
    }
    (cd "$scratch" && LC_ALL=C win "$win_bin/coff2efw.exe" -q "$input" >"$log.out" 2>"$log.err")
    local status=$?
    if [ "$status" -eq 0 ]; then
        if ! cmp -s "$ref/$image" "$dir/$image"; then
            echo "  a ${#input}-character path: the image differs from the Linux build's"
            return 1
        fi
        echo "  a ${#input}-character path converted"
        return 0
    fi
    # Not honoured: one error line, status 1, and no image.
    local err
    err=$(tr -d '\r' <"$log.err")
    if [ "$status" -ne 1 ] || [ "$(wc -l <"$log.err")" -ne 1 ] ||
        [[ "$err" != "coff2efw: error: "* ]] || [ -e "$dir/$image" ]; then
        echo "  a ${#input}-character path: status $status, standard error: $err"
        return 1
    fi
    # Wine's C runtime opens the temporary through the wide-character calls, which take
    # the long path, but renames and removes it through the ANSI ones, which do not; on
    # Windows both are the same kind, so this is Wine's alone.
    local left
    left=$(listing "$dir" | grep -v '^firmware\.out$' | tr '\n' ' ')
    echo "  note: $("$wine" --version 2>/dev/null) does not honour longPathAware: a" \
        "${#input}-character path fails with '${err##*: }'${left:+, leaving ${left% }}; not counted" \
        "as a failure"
}

# --- Paths: argument zero spelled with "/", names the ANSI code page cannot hold, and the
# case of a named input's ".out".

check_argv0_with_slash() {
    # "C:/tools/coff2efw.exe", as a batch file may start it: the program directory ends
    # at the last "/", and config.ini beside the program names the input. Through cmd,
    # argument zero is the path as typed.
    local dir=$scratch/slash log=$logs/slash
    make_dir "$dir" coff2efw.exe
    local exe
    exe=$(winpath "$dir")
    exe=${exe//\\//}/coff2efw.exe
    (cd "$scratch" && LC_ALL=C win cmd /c "$exe" >"$log.out" 2>"$log.err")
    expect_success "$dir" "$log" $?
}

check_argv0_beyond_the_code_page() {
    # A folder named in Hangul while the ANSI code page is 1252: the C runtime hands main
    # "??" for it, and the run says so instead of reading ...\??\config.ini.
    local dir=$scratch/한글 log=$logs/hangul
    make_dir "$dir" coff2efw.exe
    local before
    before=$(listing "$dir")
    (cd "$scratch" && LC_ALL=C.UTF-8 win "$dir/coff2efw.exe" >"$log.out" 2>"$log.err")
    local status=$?
    local err
    err=$(tr -d '\r' <"$log.err")
    if [ "$status" -ne 1 ] ||
        [[ "$err" != *": the path holds characters that the ANSI code page cannot represent" ]]; then
        echo "  exit status $status; standard error: $err"
        return 1
    fi
    [ "$(listing "$dir")" = "$before" ] || { echo "  the directory changed"; return 1; }
}

check_utf8_config_value() {
    # A config.ini saved as UTF-8 without a byte-order mark naming €.out, whose bytes are
    # no text in code page 949: refused with the hint, nothing converted.
    local dir=$scratch/utf8-config log=$logs/utf8-config
    make_dir "$dir" coff2efw.exe
    printf '[CONFIG]\r\nCOFF_FILE=\xe2\x82\xac.out\r\n' >"$dir/config.ini"
    local before
    before=$(listing "$dir")
    (cd "$scratch" && LC_ALL=ko_KR.UTF-8 win "$dir/coff2efw.exe" >"$log.out" 2>"$log.err")
    expect_failure "$dir" "$log" $? \
        "coff2efw: error: $(winpath "$dir")\\config.ini: the value of COFF_FILE is UTF-8, not text in the ANSI code page; save the file as ANSI, or as UTF-8 with a byte-order mark" \
        "$before"
}

check_named_input_any_case() {
    # Windows names match in any case: APP.OUT's image is VELTARA-APP.efw, not .OUT.
    local dir=$scratch/upper log=$logs/upper
    make_dir "$dir" coff2efw.exe
    mv "$dir/firmware.out" "$dir/FIRMWARE.OUT"
    (cd "$dir" && LC_ALL=C win coff2efw.exe -q FIRMWARE.OUT >"$log.out" 2>"$log.err")
    local status=$?
    if [ "$status" -ne 0 ] || ! cmp -s "$ref/$image" "$dir/VELTARA-FIRMWARE.efw"; then
        echo "  exit status $status; files: $(listing "$dir" | tr '\n' ' '); $(cat "$log.err")"
        return 1
    fi
}

# The output side: a device name is written straight through (no temporary beside it, no
# rename onto it), a device as the input is refused by name, and an output past the
# classic 260-character limit is written as any other, leaving no temporary.
check_output_targets() {
    local dir=$scratch/devices log=$logs/devices ok=0 name status
    make_dir "$dir" coff2efw.exe
    local before
    before=$(listing "$dir")
    for name in NUL nul.efw 'NUL:' '\\.\NUL'; do
        (cd "$dir" && LC_ALL=C win coff2efw.exe -q -o "$name" firmware.out >"$log.out" 2>"$log.err")
        status=$?
        if [ "$status" -ne 0 ] || [ -s "$log.err" ] || [ -s "$log.out" ]; then
            echo "  -o $name: exit status $status: $(cat "$log.err")"
            ok=1
        fi
        if [ "$(listing "$dir")" != "$before" ]; then
            echo "  -o $name: the directory changed: $(listing "$dir" | tr '\n' ' ')"
            ok=1
        fi
    done
    (cd "$dir" && LC_ALL=C win coff2efw.exe CON >"$log.out" 2>"$log.err" </dev/null)
    expect_failure "$dir" "$log" $? "coff2efw: error: CON: cannot read: not a regular file" \
        "$before" || ok=1

    # 3 x 100 characters of directories: the image's path is past 300, its temporary's too.
    local long=$scratch/long d
    d=$(printf 'd%.0s' $(seq 1 100))
    mkdir -p "$long/$d/$d/$d"
    cp "$ref/firmware.out" "$long/"
    cp "$win_bin/coff2efw.exe" "$long/"
    local target
    for target in "$(winpath "$long/$d/$d/$d")\\$image" "$d\\$d\\$d\\$image"; do
        rm -f "$long/$d/$d/$d/$image"
        (cd "$long" && LC_ALL=C win coff2efw.exe -q -o "$target" firmware.out >"$log.out" \
            2>"$log.err")
        status=$?
        if [ "$status" -ne 0 ] || ! cmp -s "$ref/$image" "$long/$d/$d/$d/$image"; then
            echo "  -o a path of ${#target} characters: exit status $status: $(cat "$log.err")"
            ok=1
        fi
        if [ "$(listing "$long/$d/$d/$d")" != "$image" ]; then
            echo "  -o a long path left: $(listing "$long/$d/$d/$d" | tr '\n' ' ')"
            ok=1
        fi
    done
    return $ok
}

passed=0
failed=0
run_check() {
    local name=$1
    local t0=$SECONDS
    if "check_$name"; then
        echo "ok: $name ($((SECONDS - t0)) s)"
        passed=$((passed + 1))
    else
        echo "FAILED: $name"
        failed=$((failed + 1))
    fi
}

run_check full_path_with_space
run_check bare_name
run_check double_byte_name
run_check missing_input
run_check efwdump_against
run_check multibyte_search
run_check config_directory
run_check profile_reader
run_check version_resources
run_check long_path
run_check argv0_with_slash
run_check argv0_beyond_the_code_page
run_check utf8_config_value
run_check named_input_any_case
run_check output_targets

echo "wine_checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
