#!/usr/bin/env bash
# Runs `vantorel --headless --demo` as a new user would: the simulated agent's
# uploads must be seen as uploads and its downloads as downloads (none of the
# demo's own files taken for a received download), and Ctrl-C must leave
# nothing behind.
set -uo pipefail
app=$1
T=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$T"' EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
mkdir -m 700 "$T/run"
. "$(dirname "$0")/../support/checks.sh"

"$app" --headless --demo > "$T/demo.txt" 2>&1 &
pid=$!
check "the demo says what it watches" wait_for "Demo: watching " "$T/demo.txt" 10
base=$(sed -n 's/^Demo: watching \(.*\)\/Library\/Mobile Documents\/com~apple~CloudDocs (.*/\1/p' "$T/demo.txt")
check "the demo's folder exists" test -d "$base/Library/Mobile Documents/com~apple~CloudDocs"
log=$base/data/Vantorel/vantorel_log.txt
# Its first minute's steps: new files, a download, an edit, new files, a package.
check "a burst of new files is seen uploading" wait_for " files are being transferred" "$T/demo.txt" 10
check "the download arrives and is logged" wait_for "/Documents/Shared " "$log" 20
check "a batch ends with its summary" wait_for " transferred ====" "$log" 40
agent=$(pgrep -f "vantorel-cloudsim demo $base" | head -1)
# Only what arrived is counted as downloaded: never more than the demo's
# "Shared" downloads.
only_arrivals() {
  local summed shared
  summed=$(awk '/ downloaded ====/ { n += $4 } END { print n + 0 }' "$log")
  shared=$(grep -c '] /Documents/Shared ' "$log")
  [ "$summed" -le "$shared" ]
}
check "no upload of the demo's own is taken for a received download" only_arrivals
# The first batch's summary counts every upload its lines name (an item sent
# twice in one batch is one transfer; what arrived is a download).
first=$(awk '/ transferred ====/ { print $4 " " length(seen); exit } /^\[.*\] \// && !/\/Documents\/Shared / { sub(/^\[[^]]*\] /, ""); seen[$0] = 1 }' "$log")
check "the first batch counts each of its items once" test "${first% *}" = "${first#* }"
[ "$failed" -eq 0 ] || { echo "--- output:"; tail -30 "$T/demo.txt"; echo "--- log:"; cat "$log"; }
kill -INT "$pid"
wait "$pid"
check "Ctrl-C ends the demo with status 0" test $? -eq 0
pid=
check "the demo's folder is removed" test ! -e "$base"
check "the simulated agent has stopped" until_true 5 bash -c "! kill -0 ${agent:-0} 2>/dev/null"
report
