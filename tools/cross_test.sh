#!/usr/bin/env bash
# Builds the portable parts (state, lookup, presentation, the platform pieces
# they use, their tests and the lookup driver) for the phones' processors,
# runs their tests under qemu-user, and checks that the lookup driver answers
# the same bytes on each as on this machine:
#   armv7         32-bit, 32-bit time_t and off_t, as the older devices
#   armv7-time64  32-bit, with _FILE_OFFSET_BITS=64 and _TIME_BITS=64
#   arm64         64-bit
#
#   tools/cross_test.sh NATIVE_BUILD [CONFIGURATION...]
#
# NATIVE_BUILD is a native build folder with bin/lookup_answers built; the
# configurations default to all three. The cross build folders are
# build/<configuration>. Set ZELVORA_CROSS_TESTS=REGEX to run only the tests
# whose names match in the armv7-time64 folder (all of them elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."
native=${1:?usage: tools/cross_test.sh NATIVE_BUILD [CONFIGURATION...]}
shift
configurations=("$@")
((${#configurations[@]})) || configurations=(armv7 armv7-time64 arm64)
jobs=2
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

answers=build/answers
mkdir -p "$answers"
echo "== the lookup driver's answers on $(uname -m)"
"$native/bin/lookup_answers" data >"$answers/native.txt"
echo "$(wc -l <"$answers/native.txt") answers, sha256 $(sha256sum <"$answers/native.txt" | cut -c1-16)"

for configuration in "${configurations[@]}"; do
  folder=build/$configuration
  echo "== $configuration: build, test under qemu, compare the answers"
  # Release: the same code as RelWithDebInfo without the debug information,
  # which only slows a cross build down.
  cmake -S . -B "$folder" --toolchain "cmake/$configuration.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DZELVORA_WERROR=ON "${launcher[@]}" >/dev/null
  cmake --build "$folder" -j$jobs
  filter=()
  if [[ $configuration == armv7-time64 && -n ${ZELVORA_CROSS_TESTS:-} ]]; then
    filter=(-R "$ZELVORA_CROSS_TESTS")
  fi
  ctest --test-dir "$folder" --output-on-failure -j$jobs "${filter[@]}"
  emulator=$(sed -n 's/^ZELVORA_CROSS_EMULATOR_PATH:FILEPATH=//p' "$folder/CMakeCache.txt")
  "$emulator" "$folder/bin/lookup_answers" data >"$answers/$configuration.txt"
  if ! cmp "$answers/native.txt" "$answers/$configuration.txt"; then
    echo "the answers on $configuration differ from those on $(uname -m):" >&2
    diff "$answers/native.txt" "$answers/$configuration.txt" | head -20 >&2
    exit 1
  fi
  echo "$configuration: the same $(wc -l <"$answers/$configuration.txt") answers, byte for byte"
done
