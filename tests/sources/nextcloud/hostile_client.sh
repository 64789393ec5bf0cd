#!/usr/bin/env bash
# `vantorel --headless` following a hostile client on the Nextcloud socket
# (hostile_client.py): the whole file system and a system folder offered as
# roots are refused, said once and never watched; under a client that flaps
# a root of 2,000 folders and floods the socket, `vantorel quit` still ends
# the process within a second.
set -uo pipefail
app=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in python3 jq; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed (scripts/setup installs it)"; exit 77; }
done

T=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run XDG_CACHE_HOME=$T/cache
mkdir -m 700 "$T/run"
mkdir -p "$T/Nextcloud"
for i in $(seq 1 2000); do echo "$T/Flap/d$i"; done | xargs mkdir -p
. "$here/../../support/checks.sh"

python3 "$here/hostile_client.py" "$T/run/Nextcloud/socket" "$T/Nextcloud" "$T/Flap" > "$T/client.txt" 2>&1 &
pids+=($!)
until [ -S "$T/run/Nextcloud/socket" ]; do sleep 0.05; done
"$app" --headless --folder "$T/Nextcloud" > "$T/vantorel.txt" 2>&1 &
vantorel=$!
pids+=($vantorel)
check "it follows the client's real root" wait_for "Nextcloud: synchronises $T/Nextcloud." "$T/vantorel.txt" 20
check "the whole file system is refused, said once" \
  until_true 5 test "$(count "not following /: it is the whole file system." "$T/vantorel.txt")" -eq 1
check "so is /proc" until_true 5 test "$(count "not following /proc: it is a system folder" "$T/vantorel.txt")" -eq 1
status=$("$app" status --json)
check "neither is watched nor a root" \
  jq -e '(.folders + .source.roots) | all(. != "/" and . != "/proc")' <<< "$status"
sleep 2  # the flood runs
start=$(date +%s%N)
"$app" quit > /dev/null
wait "$vantorel"
code=$?
took=$((($(date +%s%N) - start) / 1000000))
check "quit under the flood ends the process in ${took} ms (under 1000)" test "$took" -lt 1000
check "and cleanly" test "$code" -eq 0

echo "quit under the flood: ${took} ms; $(wc -l < "$T/vantorel.txt") lines said"
report || { tail -20 "$T/vantorel.txt"; exit 1; }
