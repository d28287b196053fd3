#!/usr/bin/env bash
# Builds with coverage counting (gcc --coverage), runs the whole test suite,
# and prints line and branch coverage per folder with gcovr (throw and
# unreachable branches left out, as they say nothing about the tests).
#
#   tools/coverage.sh [FOLDER...]     # default: the folders of the system's code
#
# The build is build/coverage; the per-file summary is written to
# build/coverage/coverage.json and an HTML report to build/coverage/html/.
# Tests are run one at a time, so that no two processes write the same
# counters at once. Exits non-zero when the build or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
build=build/coverage
folders=("$@")
if ((${#folders[@]} == 0)); then
  folders=(src/state src/lookup src/tracking src/presentation src/host/foundation src/host/loader
           src/host/notify src/host/runtime src/host/ui apps)
fi

cmake -S . -B $build -DCMAKE_BUILD_TYPE=Debug -DZELVORA_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DCMAKE_MODULE_LINKER_FLAGS=--coverage >/dev/null
cmake --build $build -j2
find $build -name '*.gcda' -delete
status=0
ctest --test-dir $build --output-on-failure -j1 || status=$?

mkdir -p $build/html
gcovr --root . --object-directory $build --exclude-throw-branches --exclude-unreachable-branches \
  --gcov-exclude '.*CompilerId.*' --filter 'src/' --filter 'apps/' --json-summary $build/coverage.json \
  --html-details $build/html/index.html >/dev/null
/usr/bin/python3 - "$build/coverage.json" "${folders[@]}" <<'EOF'
import json
import sys

summary = json.load(open(sys.argv[1]))
folders = sys.argv[2:]
totals = {folder: [0, 0, 0, 0] for folder in folders}
for entry in summary["files"]:
    for folder in folders:
        if entry["filename"].startswith(folder.rstrip("/") + "/"):
            t = totals[folder]
            t[0] += entry["line_covered"]
            t[1] += entry["line_total"]
            t[2] += entry["branch_covered"]
            t[3] += entry["branch_total"]
print("%-22s %16s %18s" % ("folder", "lines", "branches"))
for folder in folders:
    lc, lt, bc, bt = totals[folder]
    line = 100.0 * lc / lt if lt else 100.0
    branch = 100.0 * bc / bt if bt else 100.0
    print("%-22s %6.1f %% %7s %6.1f %% %9s" % (folder, line, "%d/%d" % (lc, lt), branch,
                                                "%d/%d" % (bc, bt)))
EOF
echo "report: $build/html/index.html"
exit $status
