#!/usr/bin/env bash
# Kills `zelvora data install` and `zelvora data remove` with SIGKILL at random
# moments, for a bounded time, and checks after each kill that the user's own
# file is untouched and that `zelvora data` reports what a killed run left;
# at the end, that one install and one removal leave exactly the user's file.
#
#   tools/kill_install_loop.sh BIN_DIR [SECONDS]   (default 20 seconds)
set -euo pipefail
bin=${1:?usage: tools/kill_install_loop.sh BIN_DIR [SECONDS]}
seconds=${2:-20}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
folder="$root/Library/Application Support/ZelvoraPro"
mkdir -p "$folder"
printf '36|Mine\n' >"$folder/36.txt"

z() { "$bin/zelvora" --root "$root" --region GB "$@"; }
fail() {
  echo "kill loop, round $rounds: $*" >&2
  ls -A "$folder" | grep -v '^[0-9]*\.txt$' >&2
  exit 1
}

languages=(en de fr zh)
rounds=0
leftOver=0
end=$((SECONDS + seconds))
while ((SECONDS < end)); do
  if ((RANDOM % 3 == 2)); then
    arguments=(data remove)
  else
    arguments=(data install --language "${languages[RANDOM % 4]}")
    ((RANDOM % 2)) && arguments+=(--carrier)
  fi
  "$bin/zelvora" --root "$root" "${arguments[@]}" >/dev/null 2>&1 &
  pid=$!
  sleep "0.$(printf '%03d' $((RANDOM % 800)))"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rounds=$((rounds + 1))
  [[ "$(cat "$folder/36.txt")" == "36|Mine" ]] || fail "the user's file changed"
  status=$(z data) || fail "zelvora data failed"
  if ls -A "$folder" | grep -q '\.tmp$'; then
    leftOver=$((leftOver + 1))
    grep -q "was interrupted, leaving" <<<"$status" || fail "temporary files not reported: $status"
  fi
done

z data install --language de >/dev/null || fail "a whole install failed"
[[ "$(z lookup '+49 89 1234567')" == $'+49 89 1234567\tMünchen' ]] || fail "German not answering"
ls -A "$folder" | grep -q '\.tmp$' && fail "an install left temporary files"
z data remove >/dev/null || fail "a whole removal failed"
[[ "$(ls -A "$folder")" == "36.txt" ]] || fail "more than the user's file is left"
[[ "$(z lookup '+49 89 1234567')" == $'+49 89 1234567\tMunich' ]] || fail "English not answering"
echo "kill loop: $rounds runs killed at random moments, $leftOver left temporary files; nothing lost, all cleared"
