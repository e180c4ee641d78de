#!/usr/bin/env bash
# Reads the converter's Intel HEX and S-record outputs back with SRecord's srec_cat and
# binutils' objcopy, readers nobody here wrote, and compares the result with the .efw
# image byte for byte: from the default base with the offset taken off again, from
# --base 0 without one, and from --base 0 in every way of writing the lines the options
# give (one table below). An image filled with --pad-to must be srec_cat's fill of the
# plain image, with its CRC-32. The JSON map and efwdump --json are parsed by Python's
# json and held against each other and against zlib's CRC-32 of the image. Then efwdump
# reads the text back itself, as the converter wrote it and as srec_cat rewrites it in
# other shapes (16-byte lines, S1/S2 and 16-bit records where they fit, LF line ends),
# and must give the .efw's CRC-32; --diff of the .efw against each must find them the
# same.
#
#   srec_readback.sh BIN_DIR WORK_DIR OBJECT_DIR...
#
# BIN_DIR holds coff2efw and efwdump; every *.out in the OBJECT_DIRs is converted, and
# one the converter refuses must leave no output of any format; none may be refused as a
# ROM image. Exit status 77 (skipped) without srec_cat, objcopy or python3.
set -euo pipefail

if ! command -v srec_cat >/dev/null || ! command -v objcopy >/dev/null ||
    ! command -v python3 >/dev/null; then
    echo "srec_cat, objcopy or python3 not found (Debian: srecord, binutils, python3): skipped"
    exit 77
fi

# The ways of writing the lines: format, then options. Each is read back from --base 0
# by both readers; a width too narrow for an image must be refused with nothing written.
options_table() {
    for bytes in 1 16 32 255; do
        for end in crlf lf; do
            echo "ihex --record-bytes $bytes --line-end $end"
            for width in auto 16 24 32; do
                echo "srec --record-bytes $bytes --line-end $end --srec-address $width"
                echo "srec --record-bytes $bytes --line-end $end --srec-address $width --srec-count"
            done
        done
    done
}
bin=$1
work=$2
shift 2
rm -rf "$work" && mkdir -p "$work"

converted=0
refused=0
combinations=0
for obj in $(find "$@" -maxdepth 1 -name '*.out' | sort); do
    name=$(basename "$obj" .out)
    out=$work/$name
    if ! "$bin/coff2efw" -q "$obj" -o "$out.efw" 2>"$out.err"; then
        # An object, however damaged, is never taken for a ROM image.
        ! grep -q ': a ROM image, not a COFF object' "$out.err" || { cat "$out.err"; exit 1; }
        if "$bin/coff2efw" -q -O ihex --map "$out.json" "$obj" -o "$out.hex" 2>/dev/null ||
            "$bin/coff2efw" -q -O srec "$obj" -o "$out.srec" 2>/dev/null; then
            echo "$obj: refused as efw, yet converted as text"
            exit 1
        fi
        for f in "$out.efw" "$out.hex" "$out.srec" "$out.json"; do
            [ ! -e "$f" ] || { echo "$obj: refused, yet $f was written"; exit 1; }
        done
        refused=$((refused + 1))
        continue
    fi
    "$bin/coff2efw" -q -O ihex "$obj" -o "$out.hex" --map "$out.hex.json"
    "$bin/coff2efw" -q --format=srec "$obj" -o "$out.srec" --map "$out.srec.json"
    "$bin/coff2efw" -q -O ihex --base 0 "$obj" -o "$out-0.hex"
    "$bin/coff2efw" -q -O srec --base 0 "$obj" -o "$out-0.srec"
    srec_cat "$out.hex" -intel -offset -0x90000000 -o "$out.hex.bin" -binary
    srec_cat "$out.srec" -motorola -offset -0x90000000 -o "$out.srec.bin" -binary
    srec_cat "$out-0.hex" -intel -o "$out-0.hex.bin" -binary
    srec_cat "$out-0.srec" -motorola -o "$out-0.srec.bin" -binary
    for back in "$out.hex.bin" "$out.srec.bin" "$out-0.hex.bin" "$out-0.srec.bin"; do
        cmp "$out.efw" "$back"
    done

    size=$(stat -c %s "$out.efw")
    while read -r format opts; do
        text=$out.options.$format
        rm -f "$text"
        # shellcheck disable=SC2086 # the options are words
        if ! "$bin/coff2efw" -q -O "$format" --base 0 $opts "$obj" -o "$text" 2>"$out.err"; then
            # Only a 16- or 24-bit width too narrow for the image may refuse it.
            grep -q "bit addresses of --srec-address" "$out.err" && [ ! -e "$text" ] ||
                { echo "$obj: -O $format $opts:"; cat "$out.err"; exit 1; }
            continue
        fi
        kind=$([ "$format" = ihex ] && echo intel || echo motorola)
        srec_cat "$text" -"$kind" -o "$out.back.bin" -binary
        cmp "$out.efw" "$out.back.bin" || { echo "srec_cat: -O $format $opts"; exit 1; }
        objcopy -I "$format" -O binary "$text" "$out.back.bin"
        cmp "$out.efw" "$out.back.bin" || { echo "objcopy: -O $format $opts"; exit 1; }
        # What both readers take either way: the line ends, and the records asked for.
        crs=$(grep -c $'\r$' "$text" || true)
        case "$opts" in *"--line-end lf"*) want=0 ;; *) want=$(wc -l <"$text") ;; esac
        [ "$crs" = "$want" ] || { echo "line ends: -O $format $opts"; exit 1; }
        if [ "$format" = ihex ]; then
            bytes=$(echo "$opts" | cut -d' ' -f2)
            longest=$(tr -d '\r' <"$text" |
                awk 'substr($0, 8, 2) == "00" && length > m { m = length } END { print m }')
            [ "$longest" = $((11 + 2 * bytes)) ] || { echo "line length: $opts"; exit 1; }
        fi
        counts=$(grep -c '^S[56]' "$text" || true)
        case "$opts" in *--srec-count) want=1 ;; *) want=0 ;; esac
        case "$opts" in *"address 16"*) end=S9 ;; *"address 24"*) end=S8 ;; *"address 32"*) end=S7 ;; *) end=$(tail -n 1 "$text" | cut -c1-2) ;; esac
        [ "$counts" = "$want" ] && [ "$(tail -n 1 "$text" | cut -c1-2)" = "$end" ] ||
            { echo "records: -O $format $opts"; exit 1; }
        combinations=$((combinations + 1))
    done < <(options_table)

    # Filled to the next 64 KiB with 0xff: srec_cat's fill of the plain image over the
    # same range, with its CRC-32; efwdump lists the fill and --against matches it.
    pad=$(((size / 65536 + 1) * 65536))
    "$bin/coff2efw" -q --pad-to "$pad" "$obj" -o "$out.pad.efw" --map "$out.pad.json" 2>/dev/null
    srec_cat "$out.efw" -binary -fill 0xFF 0 "$pad" -o "$out.fill.bin" -binary
    cmp "$out.pad.efw" "$out.fill.bin"
    srec_cat "$out.efw" -binary -fill 0xFF 0 "$pad" -crc32-l-e "$pad" -crop "$pad" $((pad + 4)) \
        -offset -"$pad" -o "$out.fill.crc" -binary
    "$bin/efwdump" --json "$out.pad.efw" >"$out.pad.dump.json"
    python3 - "$out.pad.json" "$out.fill.crc" "$out.pad.efw" "$size" "$out.pad.dump.json" <<'PY'
import json, sys, zlib
m = json.load(open(sys.argv[1], encoding="utf-8"))
assert json.load(open(sys.argv[5], encoding="utf-8"))["fill"] == m["fill"]
crc = int.from_bytes(open(sys.argv[2], "rb").read(), "little")
assert m["crc32"] == crc == zlib.crc32(open(sys.argv[3], "rb").read()), (m["crc32"], crc)
assert m["fill"] == {"offset": int(sys.argv[4]), "size": m["image_size"] - int(sys.argv[4]),
                     "byte": 255}, m["fill"]
PY
    "$bin/coff2efw" -q -O ihex --pad-to "$pad" "$obj" -o "$out.pad.hex" 2>/dev/null
    srec_cat "$out.pad.hex" -intel -offset -0x90000000 -o "$out.pad.back" -binary
    cmp "$out.pad.efw" "$out.pad.back"
    "$bin/efwdump" "$out.pad.efw" | grep -qx "padding: 0x$(printf %x $((pad - size))) bytes of 0xff to 0x$(printf %x "$pad")"
    "$bin/efwdump" --against "$obj" --pad-to "$pad" "$out.pad.efw" >/dev/null

    "$bin/efwdump" --json "$out.efw" >"$out.efwdump.json"
    for j in "$out.hex.json" "$out.srec.json" "$out.efwdump.json"; do
        python3 -m json.tool "$j" >/dev/null
    done
    python3 - "$out.efw" "$out.hex.json" "$out.srec.json" "$out.efwdump.json" <<'PY'
import json, sys, zlib
image = open(sys.argv[1], "rb").read()
maps = [json.load(open(p, encoding="utf-8")) for p in sys.argv[2:4]]
dump = json.load(open(sys.argv[4], encoding="utf-8"))
crc = zlib.crc32(image)
for m, fmt in zip(maps, ("ihex", "srec")):
    assert m["format"] == fmt, m["format"]
    assert m["image_size"] == len(image) == dump["image_size"], (m["image_size"], len(image))
    assert m["crc32"] == crc == dump["crc32"], (m["crc32"], crc, dump["crc32"])
    assert m["entry"] == dump["entry"] == int.from_bytes(image[0x800:0x804], "little")
    records = [{k: r[k] for k in ("image_offset", "size", "address")} for r in m["records"]]
    assert records == dump["records"], (records, dump["records"])
    for r in m["records"]:
        at = r["image_offset"]
        assert int.from_bytes(image[at:at + 4], "little") == r["size"]
        assert int.from_bytes(image[at + 4:at + 8], "little") == r["address"]
        s = m["sections"][r["section"]]
        assert s["use"] == "record" and s["image_offset"] == at, s
    assert len([s for s in m["sections"] if s["use"] == "record"]) == len(records)
assert dump["terminator_offset"] == len(image) - 8
PY
    crc=$("$bin/efwdump" "$out.efw" | sed -n 's/^crc32: //p')
    srec_cat "$out.hex" -intel -o "$out.16.hex" -intel -line-length=44 -disable=exec-start-address
    srec_cat "$out.srec" -motorola -o "$out.lf.srec" -motorola -line-length=46 -address-length=3
    srec_cat "$out-0.hex" -intel -o "$out-0.16.hex" -intel -address-length=2 -line-length=44
    srec_cat "$out-0.srec" -motorola -o "$out-0.s1.srec" -motorola -address-length=2
    for text in "$out.hex" "$out.srec" "$out.16.hex" "$out.lf.srec" \
        "$out-0.hex" "$out-0.srec" "$out-0.16.hex" "$out-0.s1.srec"; do
        base=0x90000000
        case $text in *-0.*) base=0 ;; esac
        got=$("$bin/efwdump" --base "$base" "$text" | sed -n 's/^crc32: //p')
        [ "$got" = "$crc" ] || { echo "$text: efwdump gives crc32 '$got', the .efw $crc"; exit 1; }
        "$bin/efwdump" --base "$base" --diff "$out.efw" "$text" >/dev/null ||
            { echo "$text: efwdump --diff finds it different from $out.efw"; exit 1; }
    done
    if grep -q $'\r' "$out.lf.srec"; then
        echo "$out.lf.srec: srec_cat kept CR line ends"
        exit 1
    fi
    converted=$((converted + 1))
done
[ "$converted" -gt 0 ] || { echo "no object converted"; exit 1; }
echo "srec_cat reads back $converted images as ihex and srec, from 0x90000000 and from 0;" \
    "srec_cat and objcopy read back $combinations ways of writing the lines; filled images" \
    "match srec_cat's fill; efwdump reads the text and srec_cat's rewrites to the same" \
    "CRC-32; $refused refused objects left nothing"
