#!/usr/bin/env bash
# Times whole conversions side by side: cat (the floor), plistable convert, and the same conversion in
# Python (csv + plistlib). Prints MB/s of input and peak resident memory for each.
# Usage: bench/compare-convert.sh [DATA_DIR]   (make the data first with bench/generate-data.py)
set -euo pipefail
cd "$(dirname "$0")/.."
data="${1:-bench/data}"
tool=build/app/src/cli/plistable
[ -x "$tool" ] || scripts/build app >/dev/null
out=$(mktemp -d /tmp/plistable-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT

measure() { # label input command...
    local label=$1 input=$2; shift 2
    local bytes; bytes=$(stat -c %s "$input")
    local log="$out/time.log"
    /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null
    read -r seconds kb <"$log"
    awk -v l="$label" -v b="$bytes" -v s="$seconds" -v k="$kb" \
        'BEGIN { printf "%-44s %8.1f MB/s  %8.1f MB peak RSS  (%.2f s)\n", l, (b/1e6)/(s>0?s:0.01), k/1024, s }'
}

for input in "$data/table.csv" "$data/table-sjis.csv"; do
    name=$(basename "$input")
    echo "== $name ($(( $(stat -c %s "$input") / 1000000 )) MB)"
    measure "cat" "$input" cat "$input"
    measure "plistable convert --no-header" "$input" "$tool" convert --no-header -o "$out" "$input"
    measure "plistable convert --header" "$input" "$tool" convert --header -o "$out" "$input"
    if [ "$name" = table.csv ]; then
        measure "python csv+plistlib (no header)" "$input" python3 bench/python-convert.py to-plist "$input" "$out/py.plist"
        measure "python csv+plistlib (header)" "$input" python3 bench/python-convert.py to-plist "$input" "$out/py.plist" --header
    fi
done

for input in "$data/table-dicts.plist" "$data/table-arrays.plist"; do
    [ -f "$input" ] || continue
    name=$(basename "$input")
    echo "== $name ($(( $(stat -c %s "$input") / 1000000 )) MB)"
    measure "cat" "$input" cat "$input"
    measure "plistable convert --header" "$input" "$tool" convert --header -o "$out" "$input"
    measure "python plistlib+csv (header)" "$input" python3 bench/python-convert.py to-csv "$input" "$out/py.csv" --header
done
