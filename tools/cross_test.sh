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
# build/<configuration>. To keep CI short, armv7-time64 builds and runs only
# the test programs of files, file versions, the folder watch, the area cache,
# the preferences and the lookup entry, where time_t and off_t matter (the
# other two run every test); ZELVORA_CROSS_FULL=1 runs every test there too.
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
  programs=
  if [[ $configuration == armv7-time64 && ${ZELVORA_CROSS_FULL:-0} != 1 ]]; then
    programs="files_test;file_version_test;folder_watch_test;area_cache_test;dated_after_2038_test"
    programs+=";home_country_test;init_vals_test"
  fi
  # -O2 as the native test build, without its debug information, which only
  # slows a cross build down.
  cmake -S . -B "$folder" --toolchain "cmake/$configuration.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DZELVORA_WERROR=ON "-DZELVORA_TEST_PROGRAMS=$programs" \
    "${launcher[@]}" >/dev/null
  cmake --build "$folder" -j$jobs
  ctest --test-dir "$folder" --output-on-failure -j$jobs
  emulator=$(sed -n 's/^ZELVORA_CROSS_EMULATOR_PATH:FILEPATH=//p' "$folder/CMakeCache.txt")
  "$emulator" "$folder/bin/lookup_answers" data >"$answers/$configuration.txt"
  if ! cmp "$answers/native.txt" "$answers/$configuration.txt"; then
    echo "the answers on $configuration differ from those on $(uname -m):" >&2
    diff "$answers/native.txt" "$answers/$configuration.txt" | head -20 >&2
    exit 1
  fi
  echo "$configuration: the same $(wc -l <"$answers/$configuration.txt") answers, byte for byte"
done
