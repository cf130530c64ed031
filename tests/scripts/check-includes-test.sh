#!/usr/bin/env bash
# scripts/check-includes passes on the real tree, and fails on a tree where an include runs back up a layer
# or sideways between csv and plist.
set -euo pipefail
script="$1/scripts/check-includes"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"$script" "$1/src" >/dev/null

tree() { # tree NAME FILE INCLUDED: a source tree where FILE includes INCLUDED
  mkdir -p "$tmp/$1/$(dirname "$2")" "$tmp/$1/$(dirname "$3")"
  printf '#include "%s"\n' "$3" > "$tmp/$1/$2"
  touch "$tmp/$1/$3"
}
expect() { # expect STATUS NAME FILE INCLUDED
  tree "$2" "$3" "$4"
  local status=0
  "$script" "$tmp/$2" >/dev/null 2>&1 || status=$?
  if [ "$status" -ne "$1" ]; then
    echo "FAIL: $3 including $4 gave exit $status, expected $1" >&2
    exit 1
  fi
}
expect 1 up        core/text/TextEncoding.hpp core/io/InputStream.hpp
expect 1 up2       core/csv/CSVParser.cpp core/convert/FileConverter.hpp
expect 1 sideways  core/plist/PlistValue.cpp core/csv/CSVParser.hpp
expect 1 shared    core/Log.cpp core/text/TextEncoding.hpp
expect 1 gui       core/convert/FileConverter.cpp gui/mainView.hpp
expect 0 down      core/convert/FileConverter.cpp core/csv/CSVParser.hpp
expect 0 value     core/csv/CHCSVWriter.hpp core/plist/PlistValue.hpp
expect 0 settings  core/UserDefaults.cpp core/io/AtomicFile.hpp
expect 1 convert   core/convert/FileConverter.cpp core/strings/LocalizationTable.hpp
expect 1 strings   core/strings/LocalizationTable.cpp cli/CommandContext.hpp
expect 0 tables    core/strings/LocalizationTable.cpp core/csv/CSVParser.hpp
echo "check-includes-test: 12 passed, 0 failed"
