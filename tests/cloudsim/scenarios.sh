#!/usr/bin/env bash
# Real-time scenarios: the simulated sync agent and `vantorel --headless`
# side by side in a private home, checked through what Vantorel prints,
# its log, its history and its preferences.
set -uo pipefail
app=$1 defaults=$2 sim=$3
T=$(mktemp -d)
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
mkdir -m 700 "$T/run"
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
log="$T/data/Vantorel/vantorel_log.txt"
history="$T/data/Vantorel/recent_transfers.plist"
mkdir -p "$cloud"
app_pid= agent_pid=
trap 'kill $app_pid $agent_pid 2>/dev/null; wait 2>/dev/null; [ -n "${VANTOREL_KEEP:-}" ] && cp -r "$T" "$VANTOREL_KEEP"; rm -rf "$T"' EXIT
started=$SECONDS
. "$(dirname "$0")/../support/checks.sh"
wait_count() {  # wait_count N TEXT FILE [SECONDS]: until FILE has N lines holding TEXT
  local deadline=$((SECONDS + ${4:-60}))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(count "$2" "$3")" -ge "$1" ] && return 0
    sleep 0.5
  done
  echo "--- $(count "$2" "$3") of $1 lines with '$2' in $3"; return 1
}
journal=$T/journal.txt
start_agent() { "$sim" run "$cloud" --upload-delay 4 --journal "$journal" >> "$T/agent.txt" 2>&1 & agent_pid=$!; sleep 0.5; }
stop_agent() { kill -TERM "$agent_pid"; wait "$agent_pid"; agent_pid=; }

# Bad input: one clear line and a non-zero status.
"$sim" run "$T/nowhere" > "$T/bad.txt" 2>&1
check "missing root refused" test $? -ne 0
check "missing root said" grep -q "is not a folder" "$T/bad.txt"
"$sim" download "$T/nowhere/x.bin" --size 10 > "$T/bad.txt" 2>&1
check "download into nothing refused" test $? -ne 0
"$sim" frobnicate > /dev/null 2>&1
check "unknown command refused" test $? -eq 2

# A first launch stores the first-launch preferences (and the current
# version: the second launch migrates nothing).
"$app" --headless > "$T/first.txt" 2>&1 & app_pid=$!
check "first launch" wait_for "Launched first time." "$T/first.txt" 30
kill -TERM $app_pid; wait $app_pid; app_pid=

start_agent
"$app" --headless > "$T/out.txt" 2>&1 & app_pid=$!
check "second launch" until_true 30 "$app" status
check "no migration over the first run's settings" test "$(count "Updated preferences" "$T/out.txt")" -eq 0
"$defaults" write DownloadBatchDelay -int 2
"$defaults" write ExcludePatterns -array '\.tmp$'
sleep 1

# A batch of 20 uploads.
mkdir -p "$cloud/batch"
for i in $(seq 1 20); do echo "content $i" > "$cloud/batch/file$i.txt"; done
check "20 uploads summed up" wait_for "======== 20 files were transferred ========" "$log" 45
check "20 files logged" test "$(grep -a '] /batch/file' "$log" | sed 's/^.*] //' | sort -u | wc -l)" -eq 20
check "20 history entries" test "$(count "$cloud/batch/file" "$history")" -eq 20
check "the agent's journal has the 20" test "$(grep -c "^uploaded	$cloud/batch/file" "$journal")" -eq 20
check "last transfer date" sh -c '"$1" read LastTransferDate >/dev/null' sh "$defaults"

# Three downloads through their placeholders.
mkdir -p "$cloud/incoming"
for i in 1 2 3; do "$sim" download "$cloud/incoming/item$i.bin" --size 2000 --delay 4 --journal "$journal" & done
wait_count 3 '] /incoming/item' "$log" 40
check "downloads logged under their own paths" test "$(count '] /incoming/item' "$log")" -eq 3
check "downloads in the history" wait_count 3 "$cloud/incoming/item" "$history" 20
check "the downloads journaled" wait_count 3 "downloaded	$cloud/incoming/item" "$journal" 10
check "no placeholder left in the history" test "$(count '.icloud' "$history")" -eq 0
check "downloads summed up as downloads, never as transfers" \
  wait_for "======== 3 files were downloaded ========" "$log" 20

# Edits of uploaded files while no agent runs: a received-download batch.
stop_agent
echo "edited" >> "$cloud/batch/file1.txt"
echo "edited" >> "$cloud/batch/file2.txt"
check "received downloads summed up" wait_for "======== 2 files were downloaded ========" "$log" 30
start_agent

# An exclude pattern keeps matching files out of everything.
echo "scratch" > "$cloud/notes.tmp"
echo "kept" > "$cloud/kept.txt"
check "the other file is logged" wait_for "] /kept.txt" "$log" 30
check "excluded file not logged" test "$(count 'notes.tmp' "$log")" -eq 0
check "excluded file not in the history" test "$(count 'notes.tmp' "$history")" -eq 0

# 1,000 files in one burst: every one tracked and completed.
mkdir -p "$cloud/burst"
for i in $(seq 1 1000); do : > "$cloud/burst/f$i"; echo "$i" > "$cloud/burst/f$i"; done
check "1000 uploads, none lost" wait_count 1000 '] /burst/f' "$log" 120
# Every file once as a finished transfer. (A late attribute event may add a
# "received" line for a file that had already completed, as the tracker's
# rules say; that is not a loss.)
distinct=$(grep -a '] /burst/f' "$log" | sed 's/^.*] //' | sort -u | wc -l)
check "1000 distinct files" test "$distinct" -eq 1000

# Hidden folders are synchronised too (a clone's .git): everything the
# tracker counts there ends.
mkdir -p "$cloud/project/.git/objects" "$cloud/project/.ci"
echo "ref" > "$cloud/project/.git/HEAD"
echo "blob" > "$cloud/project/.git/objects/ab12"
echo "run" > "$cloud/project/.ci/run"
echo "code" > "$cloud/project/main.c"
check "a file in a hidden folder is uploaded" wait_for "] /project/.git/objects/ab12" "$log" 30
check "and the others" wait_count 4 "] /project/" "$log" 30
check "nothing is left in progress" "$app" wait-idle --timeout 30

# A name that is not UTF-8.
name=$(printf 'caf\xe9 menu.txt')
echo "menu" > "$cloud/$name"
# Logged with the byte that is not UTF-8 written out, so the log stays text.
check "non-UTF-8 name logged" wait_for '] /caf\xe9 menu.txt' "$log" 30

# What the agent has not uploaded yet, as the soak run asks it.
"$sim" pending "$cloud" > "$T/pending.txt"
check "nothing pending once uploaded" test $? -eq 0
stop_agent
echo "late" > "$cloud/late.txt"
echo "view" > "$cloud/.DS_Store"
"$sim" pending "$cloud" > "$T/pending.txt"
check "a new file is pending while no agent runs" test $? -eq 1
check "and named" grep -qxF "$cloud/late.txt" "$T/pending.txt"
check "a file the agent keeps local is not" test "$(wc -l < "$T/pending.txt")" -eq 1
start_agent
check "pending empties once the agent is back" wait_for "late.txt" "$journal" 30
"$sim" pending "$T/nowhere" 2>/dev/null
check "pending of no folder is refused" test $? -eq 2

kill -TERM $app_pid; wait $app_pid; status=$?; app_pid=
check "vantorel quits cleanly" test "$status" -eq 0
stop_agent
echo "scenarios took $((SECONDS - started)) s"
report
