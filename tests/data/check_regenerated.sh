#!/bin/sh
# Checks that the committed data is exactly what tools/gen_area_codes.py
# writes from the installed python3-phonenumbers: the bundle is generated
# into a temporary folder and compared with data/, file by file.
# Usage: check_regenerated.sh SOURCE_DIR. Exit 77 (skipped) without the package.
set -eu
source_dir=$1
if ! /usr/bin/python3 -c 'import phonenumbers' 2>/dev/null; then
  echo "python3-phonenumbers is not installed (tools/install-deps.sh installs it)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$source_dir/tools/gen_area_codes.py" --out "$work" >/dev/null
status=0
for item in calling-codes.txt codes lang carriers; do
  if ! diff -r -q "$source_dir/data/$item" "$work/$item"; then
    status=1
  fi
done
if [ "$status" -ne 0 ]; then
  echo "the committed data differs from what the generator writes;"
  echo "run: /usr/bin/python3 tools/gen_area_codes.py"
fi
exit "$status"
