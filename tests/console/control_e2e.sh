#!/usr/bin/env bash
# The running `vantorel --headless` asked from scripts, as a user's scripts
# would: every subcommand against it, its JSON parsed, an upload waited
# for, a second launch handing over, a socket left by a killed run, and a
# peer of another user refused (when run as root).
set -uo pipefail
app=$1
command -v jq >/dev/null || { echo "skipped: jq is not installed"; exit 77; }
T=$(mktemp -d)
trap 'kill $pid $follower 2>/dev/null; rm -rf "$T"' EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
mkdir -m 700 "$T/run"
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"  # where the first-launch patterns look
mkdir -p "$cloud"
pid= follower=
. "$(dirname "$0")/../support/checks.sh"
answers() { "$app" status >/dev/null 2>&1; }
status_is() { [ "$(limited 10 "$app" status 2>&1)" = "$1" ]; }
start() {
  "$app" --headless --folder "$cloud" > "$T/app.log" 2>&1 &
  pid=$!
  until_true 10 answers
}
start
"$app" status > "$T/status.txt"
check "status prints the status line" grep -qxF "No files are being transferred." "$T/status.txt"
"$app" status --json > "$T/status.json"
check "status --json is one JSON object" jq -e 'type == "object"' "$T/status.json"
check "with its state" jq -e --arg c "$cloud" '.status == 0 and .transfers == 0 and .total == 0 and .paused == false
  and (.network | type == "boolean") and .folders == [$c] and .lastTransfer == null and .recent == []' "$T/status.json"
# No sync client runs here: the attributes answer.
check "and where item state comes from" jq -e '.source == {"name": "attributes", "connected": true, "roots": [], "labels": []}' \
  "$T/status.json"
check "idle at once" "$app" wait-idle --timeout 5

# Everything counts here, and an upload in progress is waited for.
"$app" status --follow > "$T/follow.txt" 2>&1 &
follower=$!
printf 'draft' > "$cloud/report.txt"
# At once, before any pass has looked at it: a change waiting to be
# examined is not idle.
"$app" wait-idle --timeout 0.3
check "wait-idle is not fooled by a change not yet examined" test $? -eq 1
check "status shows the upload" until_true 10 status_is "1 file is being transferred..."
"$app" wait-idle --timeout 0.5
check "wait-idle times out with 1 while it runs" test $? -eq 1
"$app" wait-idle --timeout 20 > "$T/idle.txt" &
waiter=$!
sleep 0.5
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/report.txt"
wait $waiter
check "wait-idle returns 0 once it is uploaded" test $? -eq 0
check "follow printed the change" until_true 5 grep -qxF "1 file is being transferred..." "$T/follow.txt"
"$app" status --json > "$T/after.json"
check "the JSON names the upload" jq -e --arg f "$cloud/report.txt" '.recent[0] == $f and (.lastTransfer | test("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z$"))' "$T/after.json"
kill $follower 2>/dev/null; follower=

# Commands, and errors that say so.
"$app" open 2> "$T/open.txt"
check "open on the terminal face is refused with 3" test $? -eq 3
check "and says why" grep -q "runs on the terminal" "$T/open.txt"
"$app" rescan "$T/none" 2> "$T/rescan.txt"
check "rescan of a missing folder is refused" test $? -eq 3
check "rescan of the folder is taken" "$app" rescan "$cloud"
# Only watched folders can be rescanned: anything found elsewhere would stay
# "in progress" for good, and a partial rescan keeps what lies outside it.
mkdir -p "$T/outside" "$cloud/Docs"
printf 'x' > "$T/outside/unmarked.txt"
for outside in "$T/outside" /proc "$cloud/../../.."; do
  "$app" rescan "$outside" 2> "$T/rescan.txt"
  check "rescan of $outside is refused with 3" test $? -eq 3
  check "and says why" grep -q "is not inside a watched folder" "$T/rescan.txt"
done
printf 'a' > "$cloud/elsewhere.txt"
printf 'b' > "$cloud/Docs/inside.txt"
transfers_are() { [ "$("$app" status --json | jq -c '.transfers')" = "$1" ]; }
check "two uploads in progress" until_true 10 transfers_are 2
check "a rescan of a part of the folder is taken" "$app" rescan "$cloud/Docs"
check "and keeps the transfer outside it" until_true 5 sh -c '"$1" status --json | jq -e ".paused == false and .transfers == 2" >/dev/null' sh "$app"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/elsewhere.txt" "$cloud/Docs/inside.txt"
check "both end" "$app" wait-idle --timeout 20
"$app" status --bogus 2>/dev/null
check "an unknown option is a usage error" test $? -eq 2
"$app" --version > "$T/version.txt"
check "--version ends with 0" test $? -eq 0
version_lines() {
  [ "$(wc -l < "$T/version.txt")" -eq 2 ] && sed -n 1p "$T/version.txt" | grep -qE '^Short version: [0-9.]+$' &&
    sed -n 2p "$T/version.txt" | grep -qE '^Bundle version: .+$'
}
check "and prints the version and the build" version_lines
# Each step that talks to the first instance has its own short limit: a
# broken hand-over or a stolen socket fails here by name, not at ctest's end.
limited 15 "$app" --headless --folder "$cloud" > "$T/second.txt" 2>&1
status=$?
check "a second launch ends within 15 s" test $status -ne 124
check "a second launch ends with 0" test $status -eq 0
check "and hands over to the first" grep -qxF "Vantorel is already running (process $pid) on the terminal." "$T/second.txt"

# Quit in order: the history is saved, and then nothing answers.
check "quit is taken within 10 s" limited 10 "$app" quit
wait $pid
check "the instance ended with 0" test $? -eq 0
pid=
"$app" status 2> "$T/none.txt"
check "with no instance: 2" test $? -eq 2
check "and one line" grep -qxF "vantorel: no Vantorel is running" "$T/none.txt"
"$app" wait-idle --timeout 1 2>/dev/null
check "wait-idle with no instance: 2" test $? -eq 2

# A run killed outright leaves its socket; the next run replaces it.
start
kill -9 $pid
wait $pid 2>/dev/null
check "the killed run's socket stays" test -S "$T/run/vantorel/control"
check "and nothing answers there" test "$("$app" status 2>&1)" = "vantorel: no Vantorel is running"
start
check "the next run answers" answers
check "with the folder owned by the user alone" test "$(stat -c %a "$T/run/vantorel")" = 700
check "and the socket too" test "$(stat -c %a "$T/run/vantorel/control")" = 600

# Another user's request is refused (root reaches the folder; the instance
# runs as nobody and looks at who asks).
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  "$app" quit; wait $pid; pid=
  chown -R 65534:65534 "$T"
  setpriv --reuid=65534 --regid=65534 --clear-groups "$app" --headless --folder "$cloud" > "$T/nobody.log" 2>&1 &
  pid=$!
  until_true 10 test -S "$T/run/vantorel/control"
  sleep 0.5
  "$app" status 2> "$T/refused.txt"
  code=$?
  [ $code -eq 3 ] || { echo "--- exit $code:"; cat "$T/refused.txt" "$T/nobody.log"; }
  check "another user's request is refused with 3" test $code -eq 3
  check "and told why" grep -qF "refused: the request comes from another user" "$T/refused.txt"
else
  echo "note: not root, so the other-user check is skipped (setpriv needs root)"
fi
kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; pid=
report
