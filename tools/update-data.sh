#!/usr/bin/env bash
# Moves the project to another release of libphonenumber's data: copies the
# files the generators read from a libphonenumber checkout or release folder
# into third_party/libphonenumber, records the release, and regenerates the
# bundled data (data/) and the country tables (src/lookup/country_data.h).
#
#   tools/update-data.sh DIR [--release 9.0.36] [--commit SHA] [--date YYYY-MM-DD]
#
# DIR holds resources/PhoneNumberMetadata.xml, resources/geocoding/ and
# resources/carrier/, and a LICENSE. In a git checkout the release and commit
# are read from git (the tag vX.Y.Z at HEAD); otherwise give them.
# Without arguments it regenerates from the copy already in the project.
set -euo pipefail
cd "$(dirname "$0")/.."
copy=third_party/libphonenumber

usage() {
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

regenerate() {
  /usr/bin/python3 tools/gen_area_codes.py
  /usr/bin/python3 tools/gen_country_tables.py
}

if (($# == 0)); then
  regenerate
  exit 0
fi
source=$1
shift
release= commit= date=
while (($#)); do
  case $1 in
    --release) release=${2:?--release needs a value}; shift 2 ;;
    --commit) commit=${2:?--commit needs a value}; shift 2 ;;
    --date) date=${2:?--date needs a value}; shift 2 ;;
    *) usage ;;
  esac
done

for needed in resources/PhoneNumberMetadata.xml resources/geocoding resources/carrier LICENSE; do
  if [[ ! -e $source/$needed ]]; then
    echo "update-data.sh: $source has no $needed: not a libphonenumber checkout or release" >&2
    exit 1
  fi
done
if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
  [[ -n $commit ]] || commit=$(git -C "$source" rev-parse HEAD)
  [[ -n $release ]] || release=$(git -C "$source" describe --tags --exact-match 2>/dev/null |
                                   sed 's/^v//') || true
  [[ -n $date ]] || date=$(git -C "$source" log -1 --format=%cs)
fi
if [[ -z $release || -z $commit ]]; then
  echo "update-data.sh: cannot tell the release and commit of $source; give --release and --commit" >&2
  exit 1
fi
if ! [[ $release =~ ^[0-9]+(\.[0-9]+)*$ && $commit =~ ^[0-9a-f]{7,40}$ ]]; then
  echo "update-data.sh: release $release or commit $commit is not well formed" >&2
  exit 1
fi

# The new copy is put together beside the old one and swapped in whole, so an
# interrupted update leaves the old copy as it was.
staging=$(mktemp -d "$copy.new.XXXXXX")
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/resources"
cp "$source/LICENSE" "$staging/"
cp "$source/resources/PhoneNumberMetadata.xml" "$staging/resources/"
cp -r "$source/resources/geocoding" "$source/resources/carrier" "$staging/resources/"
cp "$copy/README.md" "$staging/"
printf 'release=%s\ncommit=%s\ndate=%s\n' "$release" "$commit" "${date:-unknown}" >"$staging/VERSION"
old=$(mktemp -d "$copy.old.XXXXXX")
rmdir "$old"
mv "$copy" "$old"
mv "$staging" "$copy"
rm -rf "$old"

regenerate
echo "libphonenumber $release ($commit) is in $copy, and the data is regenerated."
echo "Update the release and commit in $copy/README.md, NOTICE and CHANGELOG.md, then run the tests."
git status --short -- "$copy" data src/lookup/country_data.h | awk '{print $2}' |
  cut -d/ -f1-2 | sort | uniq -c
