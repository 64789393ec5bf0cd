#!/usr/bin/env bash
# What another program, or someone who shares a folder, can put in
# Vantorel's way, tried with the real executables in private homes: a FIFO
# named .hidden in the watched tree, the log turned into a link to the
# user's shell start-up file, the history and the preferences pointed at a
# device of endless bytes or a FIFO, a support folder open to others, and
# (as root) one that belongs to another user or a runtime folder that is a
# link. Nothing may hang, crash, or be written through.
#   hostile_e2e.sh VANTOREL VANTOREL-DEFAULTS
set -uo pipefail
app=$1 defaults=$2
ROOT=$(mktemp -d)
pid=
trap 'kill -9 $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$ROOT"' EXIT
. "$(dirname "$0")/../support/checks.sh"
answers() { "$app" status >/dev/null 2>&1; }
status_is() { [ "$(limited 10 "$app" status 2>&1)" = "$1" ]; }
home() {  # home NAME: a private home, its paths in T, cloud, support, prefs
  T=$ROOT/$1
  mkdir -p "$T/run"
  chmod 700 "$T/run"
  export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
  cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
  support=$T/data/Vantorel
  prefs=$T/config/vantorel/com.quellmark.vantorel.plist
  mkdir -p "$cloud"
}
start() {  # start OUTPUT: in the background, until it answers (30 s at most)
  "$app" --headless --folder "$cloud" > "$1" 2>&1 &
  pid=$!
  until_true 30 answers || { echo "--- Vantorel did not answer:"; cat "$1"; }
}
quit() {  # quit: within ten seconds, or it is killed and the check fails
  timeout 10 "$app" quit >/dev/null 2>&1
  local waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 50 ]; do sleep 0.2; waited=$((waited + 1)); done
  if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; wait "$pid" 2>/dev/null; pid=; return 1; fi
  wait "$pid"; local status=$?; pid=; return $status
}
upload() {  # upload PATH: seen in progress, then marked uploaded and waited for
  printf 'content' > "$1"
  until_true 10 status_is "1 file is being transferred..." || return 1
  setfattr -n user.ubiquity.uploaded -v 1 "$1"
  timeout 30 "$app" wait-idle --timeout 20 >/dev/null
}

# A FIFO named .hidden: reading the list must neither block nor stop tracking.
home fifo
start "$T/app.txt"
mkdir -p "$cloud/sub"
mkfifo "$cloud/sub/.hidden"
check "a file beside a FIFO .hidden is tracked to its end" upload "$cloud/sub/report.txt"
check "and Vantorel still quits at once" quit

# The log made a link to the shell's start-up file, and a name that would be
# a command there: the file linked to is never written.
home link
printf 'alias ll="ls -l"\n' > "$T/.bashrc"
cp "$T/.bashrc" "$T/bashrc.before"
mkdir -p "$support"
ln -s "$T/.bashrc" "$support/vantorel_log.txt"
start "$T/app.txt"
check "a batch ends" upload "$cloud/\$(touch PWNED).txt"
check "the linked file is untouched" cmp -s "$T/.bashrc" "$T/bashrc.before"
check "the link stays a link" test -L "$support/vantorel_log.txt"
check "one line says why" test "$(count "is a symbolic link; it is left as it is" "$T/app.txt")" -eq 1
check "the link quits in order" quit

# The history pointed at a device of endless bytes, then at a FIFO.
home history
start "$T/first.txt"
quit
for target in /dev/zero fifo; do
  if [ "$target" = fifo ]; then mkfifo "$T/history.fifo"; target=$T/history.fifo; fi
  "$defaults" write ReecntsLog "$target"
  start "$T/app-$(basename "$target").txt"
  check "a history at $target: it runs" answers
  check "and says it keeps none this run" grep -qF "Cannot read the recent transfers list $target" "$T/app-$(basename "$target").txt"
  check "and quits in order" quit
done
check "the FIFO is left as it is" test -p "$T/history.fifo"

# The preferences file a link to /dev/zero, then a FIFO: the tool and the
# program say so in a line, in time, and never crash.
home prefs
mkdir -p "$(dirname "$prefs")"
ln -s /dev/zero "$prefs"
timeout 10 "$defaults" read > "$T/read.txt" 2>&1
code=$?
check "vantorel-defaults read on /dev/zero ends with an error, not a crash" test $code -ne 0 -a $code -lt 124
check "and says why" grep -qF "cannot be read (it is a device)" "$T/read.txt"
start "$T/app.txt"
check "Vantorel runs with such preferences" answers
check "saying it cannot read them" grep -qF "Cannot read preferences file $prefs" "$T/app.txt"
check "quits in order" quit
check "and leaves the link" test "$(readlink "$prefs")" = /dev/zero
rm "$prefs"
mkfifo "$prefs"
timeout 10 "$defaults" read > "$T/read.txt" 2>&1
code=$?
check "vantorel-defaults read on a FIFO does not wait for a writer" test $code -ne 0 -a $code -lt 124

# A support folder that others can write to: nothing of ours is put there.
home shared
start "$T/first.txt"
quit
chmod 777 "$support"
rm -f "$support"/*
start "$T/app.txt"
check "an open support folder is said in one line" test "$(count "can be written by other users" "$T/app.txt")" -eq 1
check "a batch still ends" upload "$cloud/shared.txt"
check "with no log or history there" test -z "$(ls -A "$support")"
check "and it quits in order" quit

# A runtime folder that is a link (to a folder of the user's, even): neither
# the control socket nor the instance lock is put through it.
home runtime
mkdir -m 700 "$T/elsewhere"
ln -s "$T/elsewhere" "$T/run/vantorel"
"$app" --headless --folder "$cloud" > "$T/app.txt" 2>&1 &
pid=$!
check "it says the socket is refused" wait_for "is a symbolic link, not a folder of this user's own; refusing to put the control socket there" "$T/app.txt" 20
check "and the lock" wait_for "refusing to put the instance lock there" "$T/app.txt" 20
check "nothing made through the link" test -z "$(ls -A "$T/elsewhere")"
kill -TERM $pid; wait $pid; pid=

# Odd things in the tree, and odd names: these held before and must go on
# holding (the status stays valid JSON, tracking and quitting go on).
home odd
start "$T/first.txt"
quit
"$defaults" write PollingMode -int 2
start "$T/app.txt"
odd=$cloud/odd
mkdir -p "$odd"
mkfifo "$odd/fifo"
[ "$(id -u)" -eq 0 ] && mknod "$odd/null" c 1 3
for i in $(seq 1 500); do ln -s "loop$((i % 500 + 1))" "$odd/loop$i"; done
ln -s / "$odd/root"
ln -s "$odd/nowhere" "$odd/dangling"
printf 'x' > "$odd/hard0"
for i in $(seq 1 2000); do ln "$odd/hard0" "$odd/hard$i"; done
printf 'x' > "$odd/$(printf 'n%.0s' $(seq 1 251)).txt"
printf 'x' > "$odd/"$'bad\xff\xfe.txt'
printf 'x' > "$odd/"$'ctl\x01\ttab\nnewline.txt'
printf 'x' > "$odd/--leading-dash.txt"
many() { "$app" status --json | jq -e '.transfers >= 2005' >/dev/null; }
check "every odd name is tracked" until_true 60 many
check "and the status is one valid JSON object" sh -c '"$1" status --json | jq -e "type == \"object\"" >/dev/null' sh "$app"
check "the odd tree quits in order" quit

# Wrong-typed and extreme values for every preference: it starts, runs and
# quits in order.
keys="ShowNotifications EnableLogging ClearLogAfterSize PollingMode HistoryLog ReecntsLog StatusItemMode
  LaunchAtStartup CheckForUpdates LastTransferDate StatusItemIconSize IgnoreHiddenFiles IgnoreSymbolicLinks
  TrackIncomingDownloads IncludePatterns ExcludePatterns ElapsedTimeNotificationLimit PreferenceVersionNumber
  DownloadErrorLogging DownloadBatchDelay ShowDownloadNotifications NotificationSound NotificationBatchDelay
  RecentFilesLimit ICloudDiskUsage launchedFirstTime"
for value in "-string garbage"$'\x01' "-int -9223372036854775808" "-real 1e308" "-array"; do
  home "values-${value%% *}"
  for key in $keys; do "$defaults" write "$key" $value; done
  start "$T/app.txt"
  check "${value%% *} values everywhere: it runs" answers
  check "and quits in order" quit
done

# As root: a support folder that belongs to another user.
if [ "$(id -u)" -eq 0 ]; then
  home theirs
  mkdir -p "$support"
  chown 65534:65534 "$support"
  chmod 755 "$support"
  start "$T/app.txt"
  check "another user's support folder is said in one line" test "$(count "belongs to another user" "$T/app.txt")" -eq 1
  check "a batch ends" upload "$cloud/theirs.txt"
  check "nothing written into their folder" test -z "$(ls -A "$support")"
  check "quits in order" quit
else
  echo "note: not root, so the other user's folder is not tried"
fi
report
