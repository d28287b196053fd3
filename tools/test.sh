#!/usr/bin/env bash
# Builds everything and runs the whole test suite: the tests with warnings as
# errors, installs and removals killed at random moments, the Debian package
# checked with lintian, the cross builds for armv7 and arm64 with their tests
# under qemu-user and the lookup driver's answers compared with the native
# ones, the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, a
# bounded fuzzing run of every target, and a quick pass over the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=2
# Each stage says when it starts, in seconds since the script began.
stage() { echo "== $* (at ${SECONDS} s)"; }

stage "build and test"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVORA_WERROR=ON >/dev/null
cmake --build build/test -j$jobs
ctest --test-dir build/test --output-on-failure -j$jobs

stage "kill area-code installs and removals at random moments, 20 seconds"
tools/kill_install_loop.sh build/test/bin 20

stage "the Debian package, checked with lintian"
tools/check_package.sh build/test

stage "cross builds for armv7 and arm64, tested under qemu-user"
tools/cross_test.sh build/test

stage "build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZELVORA_WERROR=ON -DZELVORA_SANITIZE=ON \
  -DZELVORA_BENCH=OFF >/dev/null
cmake --build build/asan -j$jobs
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j$jobs

stage "fuzz every target on its seeds, three minutes in all"
tools/fuzz.sh 180

stage "benchmarks, one quick pass"
build/test/bin/lookup_benchmark --benchmark_min_time=0.05
build/test/bin/index_benchmark --benchmark_min_time=0.05
stage "done"
