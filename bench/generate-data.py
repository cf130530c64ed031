#!/usr/bin/env python3
"""Writes the seeded benchmark inputs into a folder (default bench/data):

  table.csv        ~SIZE MB of realistic CSV: 10 columns of numbers, words, dates and prices, about 10% of
                   fields quoted (holding commas, doubled quotes or line breaks), some Japanese text
  table-sjis.csv   the same rows in Shift_JIS
  table-dicts.plist  the rows as an XML property list: an array of dictionaries, keys in header order
  table-arrays.plist the rows as an XML property list: an array of arrays

Usage: generate-data.py [--size-mb N] [--out DIR] [--seed S]
"""
import argparse
import os
import random
from xml.sax.saxutils import escape

WORDS = ("apple pear plum cherry grape lemon lime melon peach mango kiwi fig date olive walnut almond "
         "river stone cloud forest meadow harbor bridge tower garden market station valley").split()
JAPANESE = ["東京", "大阪", "りんご", "さくら", "新宿駅", "株式会社", "テスト", "日本語のテキスト"]
HEADER = ["id", "name", "city", "quantity", "price", "date", "note", "category", "score", "code"]


def field(rng, column, row):
    if column == 0:
        return str(row)
    if column in (3, 8):
        return str(rng.randint(0, 100000))
    if column == 4:
        return f"{rng.uniform(0, 10000):.2f}"
    if column == 5:
        return f"20{rng.randint(10, 26):02d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
    if column == 2 and rng.random() < 0.2:
        return rng.choice(JAPANESE)
    text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4)))
    r = rng.random()
    if r < 0.04:
        text += ", " + rng.choice(WORDS)
    elif r < 0.07:
        text = f'the "{text}" one'
    elif r < 0.10:
        text += "\n" + rng.choice(WORDS)
    return text


def quote(text):
    if any(c in text for c in ',"\n\r'):
        return '"' + text.replace('"', '""') + '"'
    return text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size-mb", type=float, default=100)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "data"))
    parser.add_argument("--seed", type=int, default=20261207)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    limit = int(args.size_mb * 1_000_000)

    rows = []
    size = 0
    row = 1
    while size < limit:
        values = [field(rng, c, row) for c in range(len(HEADER))]
        line = ",".join(quote(v) for v in values) + "\n"
        size += len(line.encode("utf-8"))
        rows.append(values)
        row += 1

    csv_text = ",".join(HEADER) + "\n" + "".join(",".join(quote(v) for v in values) + "\n" for values in rows)
    with open(os.path.join(args.out, "table.csv"), "w", encoding="utf-8", newline="") as f:
        f.write(csv_text)
    with open(os.path.join(args.out, "table-sjis.csv"), "w", encoding="shift_jis", newline="") as f:
        f.write(csv_text)

    prolog = ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
              '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0">\n<array>\n')
    with open(os.path.join(args.out, "table-dicts.plist"), "w", encoding="utf-8", newline="") as f:
        f.write(prolog)
        for values in rows:
            f.write("\t<dict>\n")
            for key, value in zip(HEADER, values):
                f.write(f"\t\t<key>{key}</key>\n\t\t<string>{escape(value)}</string>\n")
            f.write("\t</dict>\n")
        f.write("</array>\n</plist>\n")
    with open(os.path.join(args.out, "table-arrays.plist"), "w", encoding="utf-8", newline="") as f:
        f.write(prolog)
        for values in [HEADER] + rows:
            f.write("\t<array>\n")
            for value in values:
                f.write(f"\t\t<string>{escape(value)}</string>\n")
            f.write("\t</array>\n")
        f.write("</array>\n</plist>\n")
    for name in ("table.csv", "table-sjis.csv", "table-dicts.plist", "table-arrays.plist"):
        path = os.path.join(args.out, name)
        print(f"{path}\t{os.path.getsize(path) / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
