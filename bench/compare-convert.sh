#!/usr/bin/env bash
# Times whole conversions side by side, interleaved in one run so that the load of the machine weighs
# on every command alike: cat (the floor; for CSV also cat writing the property list the conversion
# wrote, its floor on writing, given as a time ratio), plistable convert, Python (csv + plistlib), Miller (CSV ->
# JSON), iconv (Shift_JIS decoding alone) and libplist's parse of the XML list alone
# (bench/libplist-parse.c, built here when libplist-2.0's headers are there; plistutil is no fair
# peer, it also writes the list). Each round runs every command once; RUNS rounds (default 3;
# Python runs in the first round only, it is slow). Prints per file the best and median MB/s of
# input (wall clock), the median CPU time, the peak resident memory, and plistable's speed as a
# multiple of each peer's. Peers that are not installed are left out (scripts/install-deps --bench).
# The dictionaries are also converted as a binary and as an old-style text list, which plistable makes
# from table.csv in the output folder first (Python reads no old-style list; libplist 2.2 neither).
# With BIG=1 a 1 GB CSV (table.csv ten times over, made in the output folder) is converted once more
# by plistable, for the peak memory at that size (Miller is left out: it holds about ten times its
# input, which at 1 GB would crowd out everything else on a small machine).
# With OLD_BIN=PATH (a plistable built from an older commit, e.g. in a `git worktree` of it, preset
# `app`) each plistable job also runs that binary just before the new one (old, new, old, new ...),
# and both lines are printed, the new one with its speed as a multiple of the old one's.
# Outputs go to a folder made under WORK_DIR (default /tmp). Every output is synced to its disk
# before it counts as written, so on a slow disk the disk's write speed is what gets timed; with
# WORK_DIR=/dev/shm (memory) the conversions themselves are.
# Usage: [RUNS=N] [BIG=1] [WORK_DIR=DIR] [OLD_BIN=PATH] bench/compare-convert.sh [DATA_DIR]
#        (make the data first with bench/generate-data.py)
set -euo pipefail
cd "$(dirname "$0")/.."
data="${1:-bench/data}"
tool=build/app/src/cli/plistable
[ -x "$tool" ] || scripts/build app >/dev/null
old="${OLD_BIN:-}"
if [ -n "$old" ] && [ ! -x "$old" ]; then
    echo "OLD_BIN is no executable: $old" >&2
    exit 2
fi
out=$(mktemp -d "${WORK_DIR:-/tmp}/plistable-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT
runs="${RUNS:-3}"
results="$out/results"
: >"$results"

# One timed run: GROUP LABEL INPUT COMMAND... (standard output goes to a file in $out/work).
run() {
    local group=$1 label=$2 input=$3; shift 3
    rm -rf "$out/work" && mkdir "$out/work"
    if /usr/bin/time -f "%e %U %S %M" -o "$out/time" "$@" >"$out/work/stdout" 2>"$out/stderr"; then
        echo "$group|$label|$(stat -c %s "$input")|$(cat "$out/time")" >>"$results"
    else
        echo "failed: $label ($(head -c 300 "$out/stderr"))" >&2
    fi
}
# A plistable job: the old binary first when there is one, then the new one, on the same input.
convert() {
    local group=$1 label=$2 input=$3; shift 3
    [ -n "$old" ] && run "$group" "old $label" "$input" "$old" convert "$@" -o "$out/work" "$input"
    run "$group" "$label" "$input" "$tool" convert "$@" -o "$out/work" "$input"
}
have() { command -v "$1" >/dev/null 2>&1; }
libplist=""
if pkg-config --exists libplist-2.0 && cc -O2 bench/libplist-parse.c $(pkg-config --cflags --libs libplist-2.0) \
    -o "$out/libplist-parse" 2>/dev/null; then
    libplist="$out/libplist-parse"
fi

csv="$data/table.csv" sjis="$data/table-sjis.csv" dicts="$data/table-dicts.plist" arrays="$data/table-arrays.plist"
binary="$out/table-dicts-binary.plist" openstep="$out/table-dicts-openstep.plist"
if [ -f "$csv" ]; then
    "$tool" convert --header --to binary -O "$binary" "$csv" >/dev/null
    "$tool" convert --header --to openstep -O "$openstep" "$csv" >/dev/null
fi
for round in $(seq "$runs"); do
    echo "round $round of $runs ($(uptime | sed 's/.*load/load/'))" >&2
    for input in "$csv" "$sjis"; do
        [ -f "$input" ] || continue
        g=$(basename "$input")
        run "$g" "cat" "$input" cat "$input"
        for flag in --no-header --header; do
            convert "$g" "plistable convert $flag" "$input" "$flag"
            # The floor of this job: writing the same document into the same folder.
            document="$out/document$flag-$g"
            [ -f "$document" ] || cp "$out/work/$(basename "${input%.csv}").plist" "$document"
            run "$g" "cat writing the output $flag" "$input" cat "$document"
        done
        if [ "$input" = "$csv" ]; then
            have mlr && run "$g" "peer: Miller CSV->JSON" "$input" mlr --icsv --ojson cat "$input"
            if [ "$round" = 1 ]; then
                run "$g" "peer: Python csv+plistlib (header)" "$input" \
                    python3 bench/python-convert.py to-plist "$input" "$out/work/py.plist" --header
            fi
        else
            run "$g" "peer: iconv decode alone" "$input" iconv -f SHIFT_JIS -t UTF-8 "$input"
        fi
    done
    for input in "$dicts" "$arrays" "$binary" "$openstep"; do
        [ -f "$input" ] || continue
        g=$(basename "$input")
        run "$g" "cat" "$input" cat "$input"
        convert "$g" "plistable convert --header" "$input" --header
        convert "$g" "plistable convert --no-header" "$input" --no-header
        [ -n "$libplist" ] && [ "$input" != "$openstep" ] && run "$g" "peer: libplist parse alone" "$input" "$libplist" "$input"
        if [ "$round" = 1 ] && [ "$input" != "$openstep" ]; then
            run "$g" "peer: Python plistlib+csv (header)" "$input" \
                python3 bench/python-convert.py to-csv "$input" "$out/work/py.csv" --header
        fi
    done
done

if [ "${BIG:-0}" = 1 ] && [ -f "$csv" ]; then
    big="$out/table-1gb.csv"
    for _ in $(seq 10); do cat "$csv"; done >"$big"
    g="table-1gb.csv"
    run "$g" "cat" "$big" cat "$big"
    convert "$g" "plistable convert --header" "$big" --header
    rm -f "$big"
fi

python3 - "$results" <<'PY'
import collections, statistics, sys
rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    group, label, size, times = line.rstrip("\n").split("|")
    wall, user, system, rss = times.split()
    rows.setdefault(group, collections.OrderedDict()).setdefault(label, []).append(
        (float(wall), float(user) + float(system), int(rss) / 1024, int(size) / 1e6))
for group, labels in rows.items():
    size = next(iter(labels.values()))[0][3]
    print(f"== {group} ({size:.0f} MB)")
    best = {label: size / max(min(r[0] for r in rs), 0.01) for label, rs in labels.items()}
    peers = [label for label in labels if label.startswith("peer:")]
    for label, rs in labels.items():
        wall = [r[0] for r in rs]
        med = statistics.median(wall)
        line = (f"  {label:<44} best {best[label]:7.1f} MB/s  median {size / max(med, 0.01):7.1f} MB/s"
                f"  (n={len(rs)}, CPU {statistics.median(r[1] for r in rs):6.2f} s)  {max(r[2] for r in rs):8.1f} MB peak")
        ratios = [f"{best[label] / best[p]:.2f}x {p[6:].split()[0]}" for p in peers]
        if label.startswith("plistable") and "old " + label in best:
            ratios.insert(0, f"{best[label] / best['old ' + label]:.2f}x old")
        floor = "cat writing the output " + label.split()[-1]
        if label.startswith("plistable") and floor in best:
            ratios.insert(0, f"time {best[floor] / best[label]:.2f}x {floor}")
        if label.startswith("plistable") and ratios:
            line += "  | " + ", ".join(ratios)
        print(line)
PY
