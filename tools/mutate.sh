#!/usr/bin/env bash
# Plants faults in the code, one at a time, and tells which the tests catch.
#
#   tools/mutate.sh [ID-PATTERN]      # every fault, or those whose id matches
#   tools/mutate.sh --list            # the faults, without running anything
#
# The faults are kept in tests/mutants/*.txt, one block each, blocks apart by
# an empty line:
#
#   # What the fault does, in a sentence.
#   id       normalise-zero-after-prefix
#   file     src/lookup/normalise.cpp
#   find     rest.front() == u'0'
#   replace  false
#   tests    SplitNumber|RealNumbers
#
# `find` must occur exactly once in `file` (as written, blanks included); it is
# replaced by `replace` (which may be empty), the build in build/mutate is
# brought up to date, and the tests whose names match the `tests` pattern
# (ctest -R) run. A fault is caught when a test fails, survives when all pass;
# one whose `find` no longer occurs is stale, one that does not build is
# invalid, and neither counts. The file is restored after each fault, also
# when the script is interrupted.
#
# Prints one line per fault and the score; exits 1 when a fault survives, 2
# when a fault is stale or invalid (the list needs mending).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/mutate

blocks() {
  # Every block as one line of fields: id, file, find, replace, tests, what.
  /usr/bin/python3 - tests/mutants/*.txt <<'EOF'
import sys
for path in sys.argv[1:]:
    text = open(path, encoding="utf-8").read()
    for block in text.split("\n\n"):
        fields = {"what": ""}
        for line in block.strip("\n").split("\n"):
            if line.startswith("#"):
                fields["what"] = (fields["what"] + " " + line[1:].strip()).strip()
            elif line.strip():
                key, _, value = line.partition(" ")
                fields[key] = value.lstrip(" ")
        if "id" not in fields:
            continue
        for key in ("file", "find", "tests"):
            if key not in fields:
                sys.exit("%s: fault %s has no %s" % (path, fields["id"], key))
        print("\x1f".join(fields.get(k, "") for k in
                          ("id", "file", "find", "replace", "tests", "what")))
EOF
}

if [[ ${1:-} == --list ]]; then
  blocks | awk -F'\x1f' '{printf "%-40s %s\n", $1, $6}'
  exit 0
fi
pattern=${1:-.}

cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVORA_BENCH=OFF >/dev/null
echo "== the tests pass without a fault"
cmake --build $build -j2 >/dev/null
ctest --test-dir $build -j2 --timeout 120 >/dev/null || {
  echo "the tests fail already; fix them before planting faults" >&2
  exit 1
}

backup=
restore() {
  if [[ -n $backup ]]; then
    cp "$backup" "$target"
    touch "$target"
    rm -f "$backup"
    backup=
  fi
}
trap restore EXIT INT TERM

caught=0 survived=0 broken=0
survivors=()
while IFS=$'\x1f' read -r id file find replace tests what; do
  [[ $id =~ $pattern ]] || continue
  target=$file
  if [[ ! -f $file ]]; then
    printf '%-40s stale (no file %s)\n' "$id" "$file"
    broken=$((broken + 1))
    continue
  fi
  backup=$(mktemp)
  cp "$file" "$backup"
  if ! FIND=$find REPLACE=$replace /usr/bin/python3 - "$file" <<'EOF'; then
import os
import sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
find = os.environ["FIND"]
if text.count(find) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(find, os.environ["REPLACE"]))
EOF
    printf '%-40s stale (the text to change is not there once)\n' "$id"
    broken=$((broken + 1))
    restore
    continue
  fi
  if ! cmake --build $build -j2 >/dev/null 2>&1; then
    printf '%-40s invalid (does not build)\n' "$id"
    broken=$((broken + 1))
  elif ctest --test-dir $build -R "$tests" -j2 --timeout 120 >/dev/null 2>&1; then
    printf '%-40s SURVIVED  %s\n' "$id" "$what"
    survived=$((survived + 1))
    survivors+=("$id")
  else
    printf '%-40s caught\n' "$id"
    caught=$((caught + 1))
  fi
  restore
done < <(blocks)
# Leave the build as the sources are.
cmake --build $build -j2 >/dev/null 2>&1 || true

total=$((caught + survived))
if ((total > 0)); then
  printf '\ncaught %d of %d (%d%%)' "$caught" "$total" $((100 * caught / total))
  ((broken == 0)) || printf '; %d stale or invalid' "$broken"
  printf '\n'
fi
((survived == 0)) || { printf 'survived: %s\n' "${survivors[*]}"; exit 1; }
((broken == 0)) || exit 2
exit 0
