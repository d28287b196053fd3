#!/usr/bin/env bash
# Builds ZelvoraPro and runs the simulated phone on the bundled data: the home
# screen settles the home country, calls ring in and go out with the caller's
# area on the call alert, and the Recents list shows areas on its first rows.
# Each command is shown as it is run, quoted so that it can be pasted back
# into a shell after the `zelvora` function the demo defines first.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

build=build/release
log=$build/demo-build.log
mkdir -p "$build"
printf 'building… (log in %s)\n' "$log"
started=$SECONDS
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELVORA_TESTS=OFF -DZELVORA_BENCH=OFF &&
       cmake --build "$build" -j2; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "the build failed; see $log" >&2
  exit 1
fi
printf 'built in %d s\n' $((SECONDS - started))

device=build/demo-device
rm -rf "$device"

# A word as the shell reads it: plain words as they are, others quoted.
quote() {
  if [[ $1 =~ ^[A-Za-z0-9_./:=+-]+$ ]]; then printf '%s' "$1"; else printf '%s' "${1@Q}"; fi
}
quoted() {
  local word
  for word in "$@"; do printf ' '; quote "$word"; done
}

zelvora() { "$build/bin/zelvora" --root "$device" --region GB "$@"; }
printf '\n$ zelvora() {%s "$@"; }\n' "$(quoted "$PWD/$build/bin/zelvora" --root "$PWD/$device" --region GB)"

step() {
  printf '\n$ zelvora%s\n' "$(quoted "$@")"
  zelvora "$@"
}
step home
step call "+44 20 7946 0000"
step call "(0161) 496 0000" --outgoing
step call "+44 7700 900123"
step call "+44 20 7946 0000" --png "$PWD/build/demo-call.png"
step settings set recents 3
step settings
step recents "+44 20 7946 0000" "+1 212 555 0100" "0131 496 0000" "+49 30 1234567"
step recents "+44 20 7946 0000" "+1 212 555 0100" --again --png "$PWD/build/demo-recents.png"
step lookup "+33 1 42 68 53 00" "+86 10 1234 5678" "+39 06 6984" "+7 495 123 45 67"
step lookup "+49 151 2345 6789" "+376 712 345"
step data install --language de --carrier
step lookup "+49 151 2345 6789" "+49 221 1234567" "+86 21 1234 5678"
step data remove
printf '\npictures: %s %s\n' "$PWD/build/demo-call.png" "$PWD/build/demo-recents.png"
