#!/usr/bin/env bash
# Reads the converter's Intel HEX and S-record outputs back with SRecord's srec_cat, a
# reader nobody here wrote, and compares the result with the .efw image byte for byte:
# from the default base with the offset taken off again, and from --base 0 without one.
# The JSON map and efwdump --json are parsed by Python's json and held against each
# other and against zlib's CRC-32 of the image. Then efwdump reads the text back itself,
# as the converter wrote it and as srec_cat rewrites it in other shapes (16-byte lines,
# S1/S2 and 16-bit records where they fit, LF line ends), and must give the .efw's CRC-32;
# --diff of the .efw against each must find them the same.
#
#   srec_readback.sh BIN_DIR WORK_DIR OBJECT_DIR...
#
# BIN_DIR holds coff2efw and efwdump; every *.out in the OBJECT_DIRs is converted, and
# one the converter refuses must leave no output of any format. Exit status 77 (skipped)
# without srec_cat or python3.
set -euo pipefail

if ! command -v srec_cat >/dev/null || ! command -v python3 >/dev/null; then
    echo "srec_cat or python3 not found (Debian: srecord, python3): skipped"
    exit 77
fi
bin=$1
work=$2
shift 2
rm -rf "$work" && mkdir -p "$work"

converted=0
refused=0
for obj in $(find "$@" -maxdepth 1 -name '*.out' | sort); do
    name=$(basename "$obj" .out)
    out=$work/$name
    if ! "$bin/coff2efw" -q "$obj" -o "$out.efw" 2>/dev/null; then
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
echo "srec_cat reads back $converted images as ihex and srec, from 0x90000000 and from 0," \
    "and efwdump reads them and srec_cat's rewrites to the same CRC-32;" \
    "$refused refused objects left nothing"
