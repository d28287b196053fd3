#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs every
# tests/fuzz/<name>_fuzzer on its seeds for SECONDS in all (default 180), two
# targets at a time so that both cores work.
#
#   tools/fuzz.sh [SECONDS]
#
# Each target starts from a scratch corpus in build/fuzz/corpus/<target>, which
# keeps what earlier runs found and gets the committed seeds
# (tests/fuzz/seeds/<target>/) copied in; the repository is never written.
# A dictionary tests/fuzz/<target>.dict is used when there is one, and the
# libFuzzer options on the first line of tests/fuzz/<target>.options. Logs go to
# build/fuzz/logs/<target>.log, and a crashing, leaking, hanging or
# memory-exhausting input to build/fuzz/artifacts/<target>/.
#
# Exits non-zero when a target finds anything (or does not build); prints each
# target's final statistics.
#
# Environment: FUZZ_JOBS (targets at a time, default 2), FUZZ_TARGETS (names to
# run instead of all), FUZZ_RUNS (stop each target after this many runs, or
# at its share of SECONDS when that comes first), ASAN_OPTIONS (added to the
# defaults).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-180}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "usage: tools/fuzz.sh [SECONDS]  (SECONDS a whole number, at least 1)" >&2
  exit 2
fi
jobs=${FUZZ_JOBS:-2}
build=build/fuzz

if [[ -n ${FUZZ_TARGETS:-} ]]; then
  read -r -a targets <<<"$FUZZ_TARGETS"
else
  targets=()
  for source in tests/fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("$name")
  done
fi
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets in tests/fuzz" >&2
  exit 2
fi

echo "== build ${targets[*]}"
cmake -S . -B $build -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELVORA_WERROR=ON -DZELVORA_FUZZ=ON -DZELVORA_TESTS=OFF -DZELVORA_BENCH=OFF >/dev/null
cmake --build $build -j2 --target "${targets[@]}"

# Each wave of `jobs` targets gets an equal share, so the whole run takes
# SECONDS however many targets there are.
waves=$(((${#targets[@]} + jobs - 1) / jobs))
share=$((seconds / waves))
((share >= 1)) || share=1

# Shorter allocation stacks in reports (the faulting access keeps its full
# stack) and a 16 MiB quarantine of freed memory (still hundreds of runs) make
# the targets about half as fast again.
export ASAN_OPTIONS="malloc_context_size=4:quarantine_size_mb=16:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

run_target() {
  local target=$1
  local corpus=$build/corpus/$target artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts" $build/logs
  if [[ -d tests/fuzz/seeds/$target ]]; then
    cp -n tests/fuzz/seeds/"$target"/* "$corpus"/ 2>/dev/null || true
  fi
  local options=(-print_final_stats=1 -rss_limit_mb=2048 -timeout=10
    -artifact_prefix="$artifacts/")
  options+=(-max_total_time="$share")
  [[ -n ${FUZZ_RUNS:-} ]] && options+=(-runs="$FUZZ_RUNS")
  [[ -f tests/fuzz/$target.dict ]] && options+=(-dict=tests/fuzz/"$target".dict)
  if [[ -f tests/fuzz/$target.options ]]; then
    local extra
    read -r -a extra <tests/fuzz/"$target".options
    options+=("${extra[@]}")
  fi
  "$build/bin/$target" "${options[@]}" "$corpus" >$build/logs/"$target".log 2>&1
}

echo "== fuzz ${#targets[@]} targets, $jobs at a time, ${share}s each"
declare -A pids
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  run_target "$target" &
  pids[$target]=$!
done

failed=0
for target in "${targets[@]}"; do
  status=0
  wait "${pids[$target]}" || status=$?
  echo "-- $target (exit $status)"
  grep -E '^(stat::|Done )' $build/logs/"$target".log || true
  if ((status != 0)); then
    failed=1
    grep -E 'ERROR|SUMMARY|broken|Test unit written' $build/logs/"$target".log | head -n 20 || true
    echo "   log: $build/logs/$target.log"
  fi
done
if ((failed)); then
  echo "fuzzing found a fault (inputs in $build/artifacts/)" >&2
  exit 1
fi
echo "fuzzing found nothing"
