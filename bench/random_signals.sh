#!/usr/bin/env bash
# random_signals.sh CONVERTER BENCH [RUNS]: sends a termination signal at a random moment
# to RUNS conversions (default 1000) of a 256 MiB object that write an image and a map
# over old ones, and checks after each that no temporary is left and that the image and
# the map are both the old ones or both the new ones. BENCH is coff2efw_bench, which
# makes the object. Not a test: it takes some ten minutes; the suite's own row sends 40
# signals to a smaller run.
set -euo pipefail
conv=$(realpath "$1")
bench=$(realpath "$2")
runs=${3:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/signals.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bench" --make 5 app.out
start=$(date +%s%N)
"$conv" -q -o img.efw --map m.json app.out 2>/dev/null
took_us=$((($(date +%s%N) - start) / 1000))
mv img.efw new.efw
mv m.json new.json
echo old image >old.efw
echo old map >old.json
signals=(TERM INT HUP USR1 ALRM QUIT)
old=0 new=0 bad=0
for ((i = 0; i < runs; i++)); do
    cp old.efw img.efw
    cp old.json m.json
    delay=$(((RANDOM * 32768 + RANDOM) % (took_us * 3 / 2 + 1)))
    "$conv" -q -o img.efw --map m.json app.out 2>/dev/null &
    pid=$!
    sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
    kill -s "${signals[i % ${#signals[@]}]}" "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    listing=$(ls -A | tr '\n' ' ')
    if [ "$listing" != "app.out img.efw m.json new.efw new.json old.efw old.json " ]; then
        echo "run $i (signal after ${delay} us): left $listing"
        bad=$((bad + 1))
    elif cmp -s img.efw old.efw && cmp -s m.json old.json; then
        old=$((old + 1))
    elif cmp -s img.efw new.efw && cmp -s m.json new.json; then
        new=$((new + 1))
    else
        echo "run $i (signal after ${delay} us): the image and the map disagree"
        bad=$((bad + 1))
    fi
done
echo "$runs runs of ${took_us} us: $old left both outputs old, $new both new, $bad otherwise"
[ "$bad" -eq 0 ]
