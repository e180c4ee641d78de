#!/usr/bin/env bash
# Opens the HTML reports in a real browser, headless Chromium: the demo's report, a report
# of a full section table (2048 sections, with a name made of markup and bytes that are
# not UTF-8) and efwdump's reports of both images. For each page:
# - Python's html.parser finds every element closed, in order;
# - a screenshot is taken and is not blank;
# - the DOM Chromium built holds every section's row and every record's mark, and no
#   script element (a section name cannot become markup).
#
#   check_report.sh BIN_DIR WORK_DIR [SCREENSHOT]
#
# BIN_DIR holds coff2efw, efwdump and make_example. With SCREENSHOT (relative to the
# directory it is started in), the demo report's screenshot is also copied there:
# docs/report.png is made, from the top of the source tree, by
#   tests/report/check_report.sh build/test/bin build/test/report_check docs/report.png
# Exit status 77 (skipped) without chromium or python3.
set -euo pipefail

if ! command -v chromium >/dev/null || ! command -v python3 >/dev/null; then
    echo "chromium or python3 not found (Debian: chromium, python3): skipped"
    exit 77
fi
bin=$(cd "$1" && pwd)
work=$2
save=${3:-}
rm -rf "$work" && mkdir -p "$work"
work=$(cd "$work" && pwd)
cd "$work" # the pages name their files as given: relative, as a user would give them

browse() { # browse PAGE ARGS...: chromium on a page, its own profile, no network
    local page=$1
    shift
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" "$@" "file://$page" 2>/dev/null
}

"$bin/make_example" demo.out
"$bin/make_example" --full-table full.out
"$bin/coff2efw" -q --map demo.json --report demo.html demo.out
"$bin/coff2efw" -q --max-size 1M --map full.json --report full.html full.out 2>/dev/null
"$bin/efwdump" --report demo-image.html VELTARA-demo.efw
"$bin/efwdump" --report full-image.html VELTARA-full.efw

status=0
for page in demo full demo-image full-image; do
    html=$work/$page.html
    map=$work/${page%-image}.json
    browse "$html" --window-size=1200,1120 --screenshot="$work/$page.png" >/dev/null
    browse "$html" --dump-dom >"$work/$page.dom"
    if ! python3 - "$html" "$work/$page.png" "$work/$page.dom" "$map" "$page" <<'PY'; then
import html.parser, json, struct, sys, zlib

page_path, png_path, dom_path, map_path, label = sys.argv[1:6]
faults = []

# Well-formed: every element closed, in order; void elements need no end tag.
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
        "source", "track", "wbr"}

class Nesting(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.open = []
    def handle_starttag(self, tag, attrs):
        if tag not in VOID:
            self.open.append((tag, self.getpos()))
    def handle_startendtag(self, tag, attrs):
        pass
    def handle_endtag(self, tag):
        if not self.open or self.open[-1][0] != tag:
            faults.append(f"</{tag}> at {self.getpos()} closes {self.open[-1] if self.open else 'nothing'}")
            return
        self.open.pop()

with open(page_path, "rb") as f:
    text = f.read().decode("utf-8")  # the page must be UTF-8 whatever the names held
n = Nesting()
n.feed(text)
n.close()
if n.open:
    faults.append(f"unclosed: {n.open[:5]}")

# Not blank: the screenshot's pixels are decoded (8-bit RGB or RGBA, no interlace) and
# must hold a good share of pixels that are not the page's white, in several colours.
def pixels(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG form"
            bpp = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    rows = []
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, bpp, rows

w, h, bpp, rows = pixels(png_path)
inked, colours = 0, set()
for row in rows[::4]:
    for x in range(0, w * bpp, bpp * 4):
        px = row[x:x + 3]
        if px != b"\xff\xff\xff":
            inked += 1
            colours.add(px)
share = inked / ((len(rows[::4])) * len(range(0, w * bpp, bpp * 4)))
if share < 0.02 or len(colours) < 8:
    faults.append(f"the screenshot looks blank: {share:.1%} inked, {len(colours)} colours")

# Every section's row and every record's mark is in the DOM the browser built, and no
# script element: the hostile name stayed text.
dom = open(dom_path, encoding="utf-8").read()
m = json.load(open(map_path))
records = len(m["records"])
sections = 0 if label.endswith("-image") else len(m["sections"])
missing = [f"s{i}" for i in range(sections) if f'id="s{i}"' not in dom]
missing += [f"r{k}" for k in range(records) if f'id="r{k}"' not in dom]
# Each section's name stands in its row (the plain ones; the hostile one is checked below).
plain = [x["name"] for x in m["sections"][:sections] if x["name"].replace("_", "").replace(".", "").isalnum()]
missing += [name for name in plain if f'<td class="name">{name}</td>' not in dom]
if missing:
    faults.append(f"{len(missing)} labels or marks missing from the DOM, the first {missing[:5]}")
if "<script" in dom:
    faults.append("the DOM holds a script element")
if label == "full" and "&lt;script&gt;alert(\"&amp;'\")&lt;/script&gt;\\xe9\\xff" not in dom:
    faults.append("the hostile section name is not shown as text")

for f in faults:
    print(f"{label}: {f}")
print(f"{label}: {len(text)} bytes, {sections} sections, {records} records, "
      f"screenshot {w}x{h} {share:.0%} inked" + ("" if not faults else ": FAILED"))
sys.exit(1 if faults else 0)
PY
        status=1
    fi
done
if [ -n "$save" ]; then
    cd - >/dev/null
    cp "$work/demo.png" "$save"
fi
exit $status
