#!/usr/bin/env bash
# System calls per warm lookup: strace -f -c counts the calls of the benchmark
# program's probe with N warm lookups under 86 and with none; the difference
# divided by N is what one lookup makes (preference synchronisation included),
# for the files installed in the data folder, for only the bundled copies, and
# for the preference part alone.
# usage: tools/count_lookup_syscalls.sh [BUILD_DIR] [N]
set -euo pipefail
build=${1:-build/dev}
lookups=${2:-2000}
probe=$build/bin/index_benchmark
command -v strace >/dev/null || { echo "strace is needed (apt-get install strace)" >&2; exit 1; }
[[ -x $probe ]] || { echo "build index_benchmark first ($probe)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Calls by name, as "name count" lines, from strace's summary.
count() {
  strace -f -c -o "$work/summary" "$probe" --syscall-probe "$@" 2>/dev/null
  # Columns: % time, seconds, usecs/call, calls, [errors,] syscall.
  awk '$1 ~ /^[0-9.]+$/ && $NF != "total" { print $NF, $4 }' "$work/summary" | sort
}

for where in installed bundled sync; do
  count 0 "$where" >"$work/none"
  count "$lookups" "$where" >"$work/many"
  case $where in
    sync) echo "per initVals without a number (the preference part alone), from $lookups runs:" ;;
    *) echo "per warm lookup under 86 ($where files), from $lookups lookups:" ;;
  esac
  join -a 2 -e 0 -o 0,1.2,2.2 "$work/none" "$work/many" |
    awk -v n="$lookups" '{ d = ($3 - $2) / n; if (d >= 0.01) { printf "  %-14s %6.2f\n", $1, d; t += d } }
                         END { printf "  %-14s %6.2f\n", "total", t }'
done
