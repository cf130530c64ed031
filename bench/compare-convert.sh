#!/usr/bin/env bash
# Times whole conversions side by side, interleaved in one run so that the load of the machine weighs
# on every command alike: cat (the floor), plistable convert, Python (csv + plistlib), Miller (CSV ->
# JSON), iconv (Shift_JIS decoding alone) and libplist's parse of the XML list alone
# (bench/libplist-parse.c, built here when libplist-2.0's headers are there; plistutil is no fair
# peer, it also writes the list). Each round runs every command once; RUNS rounds (default 3;
# Python runs in the first round only, it is slow). Prints per file the best and median MB/s of
# input (wall clock), the median CPU time, the peak resident memory, and plistable's speed as a
# multiple of each peer's. Peers that are not installed are left out (scripts/install-deps --bench).
# Usage: bench/compare-convert.sh [DATA_DIR]   (make the data first with bench/generate-data.py)
set -euo pipefail
cd "$(dirname "$0")/.."
data="${1:-bench/data}"
tool=build/app/src/cli/plistable
[ -x "$tool" ] || scripts/build app >/dev/null
out=$(mktemp -d /tmp/plistable-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

runs="${RUNS:-3}"

measure() { # label count input command...
    local label=$1 count=$2 input=$3; shift 3
    local log="$out/time.log"
    : >"$out/runs"
    for _ in $(seq "$count"); do
        find "$out" -maxdepth 1 -type f ! -name time.log ! -name runs -delete
        /usr/bin/time -f "%e %U %S %M" -o "$log" "$@" >/dev/null
        cat "$log" >>"$out/runs"
    done
    python3 - "$label" "$(stat -c %s "$input")" "$out/runs" <<'PY'
import statistics, sys
label, size, path = sys.argv[1], int(sys.argv[2]) / 1e6, sys.argv[3]
runs = [list(map(float, line.split())) for line in open(path) if line.strip()]
wall = sorted(r[0] for r in runs)
cpu = statistics.median(r[1] + r[2] for r in runs)
peak = max(r[3] for r in runs) / 1024
med = statistics.median(wall)
print(f"{label:<38} best {size / max(wall[0], 0.01):7.1f} MB/s  median {size / max(med, 0.01):7.1f} MB/s"
      f"  (median {med:.2f} s, CPU {cpu:.2f} s)  {peak:7.1f} MB peak RSS")
PY
}

for input in "$data/table.csv" "$data/table-sjis.csv"; do
    name=$(basename "$input")
    echo "== $name ($(( $(stat -c %s "$input") / 1000000 )) MB)"
    measure "cat" "$runs" "$input" cat "$input"
    measure "plistable convert --no-header" "$runs" "$input" "$tool" convert --no-header -o "$out" "$input"
    measure "plistable convert --header" "$runs" "$input" "$tool" convert --header -o "$out" "$input"
    if [ "$name" = table.csv ]; then
        measure "python csv+plistlib (no header)" 1 "$input" python3 bench/python-convert.py to-plist "$input" "$out/py.plist"
        measure "python csv+plistlib (header)" 1 "$input" python3 bench/python-convert.py to-plist "$input" "$out/py.plist" --header
    fi
done

for input in "$data/table-dicts.plist" "$data/table-arrays.plist"; do
    [ -f "$input" ] || continue
    name=$(basename "$input")
    echo "== $name ($(( $(stat -c %s "$input") / 1000000 )) MB)"
    measure "cat" "$runs" "$input" cat "$input"
    measure "plistable convert --header" "$runs" "$input" "$tool" convert --header -o "$out" "$input"
    measure "python plistlib+csv (header)" 1 "$input" python3 bench/python-convert.py to-csv "$input" "$out/py.csv" --header
done
