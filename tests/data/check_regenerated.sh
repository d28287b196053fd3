#!/bin/sh
# Checks that the committed data is exactly what the generators write from the
# project's copy of libphonenumber (third_party/libphonenumber): the bundle is
# generated into a temporary folder and compared with data/, file by file, and
# the country tables with src/lookup/country_data.h.
# Usage: check_regenerated.sh SOURCE_DIR. Exit 77 (skipped) without
# python3-phonenumbers, which gives the names of the regions.
set -eu
source_dir=$1
if ! /usr/bin/python3 -c 'import phonenumbers' 2>/dev/null; then
  echo "python3-phonenumbers is not installed (tools/install-deps.sh installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$source_dir/tools/gen_area_codes.py" --out "$work" >/dev/null
/usr/bin/python3 "$source_dir/tools/gen_country_tables.py" --out "$work/country_data.h"
status=0
for item in calling-codes.txt country-lines.txt codes lang carriers; do
  if ! diff -r -q "$source_dir/data/$item" "$work/$item"; then
    status=1
  fi
done
if ! diff -q "$source_dir/src/lookup/country_data.h" "$work/country_data.h"; then
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "the committed data differs from what the generators write;"
  echo "run: tools/update-data.sh (or /usr/bin/python3 tools/gen_area_codes.py and"
  echo "     /usr/bin/python3 tools/gen_country_tables.py)"
fi
exit "$status"
