#!/usr/bin/env bash
# Runs the real `vantorel --headless` in a private home: files written into
# the watched folder, then marked uploaded as the sync agent would, must show
# up in the printed status lines, the log, the history and the preferences.
set -uo pipefail
app=$1
defaults=$2
T=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$T"' EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
passed=0 failed=0 pid=

check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi
}
wait_for() {  # wait_for TEXT FILE [SECONDS]: true once FILE holds TEXT
  local deadline=$((SECONDS + ${3:-20}))
  while [ $SECONDS -lt $deadline ]; do
    grep -qF -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "--- $2:"; cat "$2"; return 1
}
start() {  # start OUTPUT [OPTIONS...]
  local out=$1; shift
  "$app" --headless "$@" > "$out" 2>&1 &
  pid=$!
}
stop() {  # stop: SIGTERM, and the exit status must be 0
  kill -TERM "$pid"
  wait "$pid"
  local status=$?
  pid=
  return $status
}

# A home without the folder: the panel's message, a hint, exit status 1.
"$app" --headless > "$T/missing.txt" 2>&1
check "missing folder exits 1" test $? -eq 1
check "missing folder hint" grep -q -- "--folder" "$T/missing.txt"
rm -rf "$T/config"

# First launch: an upload from first sight to its end.
mkdir -p "$cloud/Docs"
start "$T/run1.txt"
check "first launch" wait_for "Launched first time." "$T/run1.txt"
sleep 1
echo "draft" > "$cloud/Docs/report.txt"
check "upload seen" wait_for "1 file is being transferred..." "$T/run1.txt"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/Docs/report.txt"
check "upload finished" wait_for "Last transfer" "$T/run1.txt"
check "quits cleanly on SIGTERM" stop
check "history saved" grep -qF "$cloud/Docs/report.txt" "$T/data/Vantorel/recent_transfers.plist"
check "last transfer date stored" sh -c '"$1" read LastTransferDate >/dev/null' sh "$defaults"

# Second launch: now with the log, and a rescan that finds a pending file.
echo "waiting" > "$cloud/pending.txt"
start "$T/run2.txt" --rescan
check "migration" wait_for "Updated preferences to version 4" "$T/run2.txt"
check "rescan found it" wait_for "Found 1 transfers." "$T/run2.txt"
check "rescanned transfer in progress" wait_for "1 file is being transferred..." "$T/run2.txt"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/pending.txt"
check "finished again" wait_for "Last transfer" "$T/run2.txt"
check "quits cleanly" stop
check "log line" grep -q "] /pending.txt$" "$T/data/Vantorel/vantorel_log.txt"
check "summary line" grep -q "======== 1 file was transferred ========" "$T/data/Vantorel/vantorel_log.txt"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
