#!/usr/bin/env python3
"""The same conversions in Python (csv + plistlib), for the end-to-end comparison.

  python-convert.py to-plist IN.csv OUT.plist [--header]
  python-convert.py to-csv IN.plist OUT.csv [--header]
"""
import csv
import plistlib
import sys


def to_plist(source, target, header):
    with open(source, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    if header and rows:
        names, rows = rows[0], rows[1:]
        rows = [dict(zip(names, row)) for row in rows]
    with open(target, "wb") as f:
        plistlib.dump(rows, f, sort_keys=False)


def to_csv(source, target, header):
    with open(source, "rb") as f:
        items = plistlib.load(f)
    keys = None
    with open(target, "w", newline="", encoding="utf-8") as f:
        writer = csv.writer(f, lineterminator="\n")
        for item in items:
            if isinstance(item, dict):
                if keys is None:
                    keys = list(item.keys())
                    if header:
                        writer.writerow(keys)
                writer.writerow([item.get(k, "") for k in keys])
            elif isinstance(item, list):
                writer.writerow(item)


if __name__ == "__main__":
    mode, source, target = sys.argv[1:4]
    header = "--header" in sys.argv[4:]
    (to_plist if mode == "to-plist" else to_csv)(source, target, header)
