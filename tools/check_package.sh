#!/usr/bin/env bash
# Builds the Debian package of a build folder and checks it with lintian: any
# error or warning fails. The informational tags that remain are counted, and
# each is expected (README.md, "Debian package", says why).
#
#   tools/check_package.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: tools/check_package.sh BUILD_DIR}
rm -f "$build"/zelvora_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package=$(echo "$build"/zelvora_*.deb)
report=$(mktemp)
trap 'rm -f "$report"' EXIT
status=0
lintian --fail-on error,warning --display-info "$package" >"$report" 2>/dev/null || status=$?
if grep -q '^[EW]: ' "$report" || ((status != 0)); then
  echo "lintian rejects $package:"
  grep -v '^[IPX]: ' "$report" || true
  exit 1
fi
echo "lintian accepts $package; informational tags:"
awk '/^I: / { print $3 }' "$report" | sort | uniq -c
