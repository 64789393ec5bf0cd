#!/usr/bin/env bash
# Runs the real `vantorel --headless` in a private home: files written into
# the watched folder, then marked uploaded as the sync agent would, must show
# up in the printed status lines, the log, the history and the preferences.
set -uo pipefail
app=$1
defaults=$2
T=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$T"' EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
mkdir -m 700 "$T/run"
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
pid=
. "$(dirname "$0")/../support/checks.sh"
start() {  # start OUTPUT [OPTIONS...]
  local out=$1; shift
  "$app" --headless "$@" > "$out" 2>&1 &
  pid=$!
}
wait_count() {  # wait_count N TEXT FILE [SECONDS]: until FILE has N lines holding TEXT
  local deadline=$((SECONDS + ${4:-20}))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(grep -cF -- "$2" "$3" 2>/dev/null)" -ge "$1" ] && return 0
    sleep 0.2
  done
  echo "--- $(grep -cF -- "$2" "$3") of $1 lines with '$2' in $3:"; tail -20 "$3"; return 1
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
check "the first launch keeps the log" grep -q "] /Docs/report.txt$" "$T/data/Vantorel/vantorel_log.txt"
check "the first launch stores the current version" test "$("$defaults" read PreferenceVersionNumber)" = 4

# Second launch: no migration over the first run's settings, and a rescan
# that finds a pending file.
echo "waiting" > "$cloud/pending.txt"
start "$T/run2.txt" --rescan
check "rescan found it" wait_for "Found 1 transfers." "$T/run2.txt"
check "nothing migrated" test "$(grep -c "Updated preferences" "$T/run2.txt")" -eq 0
check "rescanned transfer in progress" wait_for "1 file is being transferred..." "$T/run2.txt"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/pending.txt"
check "finished again" wait_for "Last transfer" "$T/run2.txt"
check "quits cleanly" stop
check "log line" grep -q "] /pending.txt$" "$T/data/Vantorel/vantorel_log.txt"
check "summary line" grep -q "======== 1 file was transferred ========" "$T/data/Vantorel/vantorel_log.txt"

# Third launch: what a user runs into in the first days.
start "$T/run3.txt"
check "third launch" wait_for "Bundle version" "$T/run3.txt"
sleep 1
listing() { find "$T/config" "$T/data" "$T/run" -printf '%p %s %T@\n' | sort; }
before=$(listing)
limited 15 "$app" --headless > "$T/second.txt" 2>&1
status=$?
check "a second instance ends within 15 s (else the hand-over hangs)" test $status -ne 124
check "a second instance exits 0" test $status -eq 0
check "a second instance names the first" grep -qxF "Vantorel is already running (process $pid) on the terminal." "$T/second.txt"
check "a second instance touches no file" test "$before" = "$(listing)"

# A placeholder whose item arrives under its own path before it reads as
# uploaded: one transfer, which ends.
echo "remote" > "$cloud/.doc.pdf.icloud"
check "download seen" wait_count 1 "1 file is being transferred..." "$T/run3.txt"
echo "content" > "$cloud/doc.pdf"
sleep 1.5
rm "$cloud/.doc.pdf.icloud"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/doc.pdf"
check "download ends" wait_count 1 "Last transfer" "$T/run3.txt"

# The watched folder deleted and made again is watched again.
rm -rf "$cloud"
check "folder gone" wait_for "is gone; watching for it to come back." "$T/run3.txt"
mkdir -p "$cloud"
check "folder back" wait_for "is there again; watching it." "$T/run3.txt"
echo "new" > "$cloud/after.txt"
check "changes seen again" wait_count 2 "1 file is being transferred..." "$T/run3.txt"
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/after.txt"
check "and they end" wait_count 2 "Last transfer" "$T/run3.txt"

# A damaged preferences file read by the tool loses no setting.
echo "garbage" > "$T/config/vantorel/com.quellmark.vantorel.plist"
"$defaults" read > /dev/null 2>&1
# The running instance notices and writes its settings back (slowly under
# the sanitizers: waited for, not slept on).
check "settings written back" until_true 15 sh -c 'test "$("$1" read launchedFirstTime 2>/dev/null)" = 1' sh "$defaults"
check "the damaged file kept" until_true 15 test -f "$T/config/vantorel/com.quellmark.vantorel.plist.corrupt"

# No folder stored: nothing watched, and watching resumes when one is.
"$defaults" delete ICloudDriveFolder
check "no folder" wait_for "No folder to watch is stored; nothing is tracked until one is." "$T/run3.txt"
"$defaults" write ICloudDriveFolder "$cloud"
check "folder again" wait_count 2 "icloud directory changed." "$T/run3.txt"
# The line is written just before the new watch is set up: a file written in
# that moment is not seen (as one written while Vantorel is not running), so
# the write is repeated until it is (slow under ThreadSanitizer).
seen_again() {
  echo "more" >> "$cloud/more.txt"
  [ "$(count "1 file is being transferred..." "$T/run3.txt")" -ge 3 ]
}
check "tracking again" until_true 20 seen_again
check "quits cleanly at the end" stop
"$app" --headless > "$T/run4.txt" 2>&1 &
pid=$!
check "no first launch again" wait_for "Bundle version" "$T/run4.txt"
check "stop" stop
check "really no first launch again" sh -c '! grep -q "Launched first time." "$1"' sh "$T/run4.txt"

# A folder on a file system that keeps no user extended attributes is
# watched, and one line says why nothing there will read as uploaded.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the ramfs check needs root to mount"
elif ! unshare -m --propagation private true 2> /dev/null; then
  echo "skipped: the ramfs check needs a mount namespace, which this machine does not give"
else
  mkdir -p "$T/ramfs"
  XDG_RUNTIME_DIR=$T/ramfs-run timeout -s TERM 3 unshare -m sh -c \
    'mount -t ramfs none "$1" && exec "$2" --headless --folder "$1"' sh "$T/ramfs" "$app" > "$T/ramfs.txt" 2>&1
  check "no extended attributes said" grep -q "is on a file system without user extended attributes" "$T/ramfs.txt"
fi

report
