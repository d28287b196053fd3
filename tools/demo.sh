#!/usr/bin/env bash
# Builds ZelvoraPro and runs the simulated phone on the bundled data: the home
# screen settles the home country, calls ring in and go out with the caller's
# area on the call alert, and the Recents list shows areas on its first rows.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZELVORA_TESTS=OFF -DZELVORA_BENCH=OFF >/dev/null
cmake --build build/release -j2 >/dev/null

device=build/demo-device
rm -rf "$device"
zelvora() { build/release/bin/zelvora --root "$device" --region GB "$@"; }

step() { printf '\n$ zelvora %s\n' "$*"; zelvora "$@"; }
step home
step call "+44 20 7946 0000"
step call "(0161) 496 0000" --outgoing
step call "+1 555 0100"
step settings set recents 3
step settings
step recents "+44 20 7946 0000" "+1 212 555 0100" "0131 496 0000" "+49 30 1234567"
step recents "+44 20 7946 0000" "+1 212 555 0100" --again
step lookup "+33 1 42 68 53 00" "+86 10 1234 5678" "+39 06 6984" "+7 495 123 45 67"
