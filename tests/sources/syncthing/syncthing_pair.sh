#!/usr/bin/env bash
# Two real Syncthing instances, A and B, sharing a folder over loopback (the
# link limited so a large file takes seconds), and `vantorel --headless` on
# A's folder finding Syncthing by itself: uploads seen from A's side until B
# has them, a download from B, B paused and back, A restarted mid-batch,
# Vantorel restarted mid-upload, `vantorel pause|resume` reaching Syncthing,
# and a folder kept as "~/Name". Skips (77) only where
# syncthing is not installed.
set -uo pipefail
app=$1
defaults=$2
here=$(cd "$(dirname "$0")" && pwd)

for tool in syncthing curl jq python3; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed (scripts/setup installs it)"; exit 77; }
done

T=$(mktemp -d)
. "$here/../../support/checks.sh"
. "$here/../../support/syncthing.sh"
vantorel=
cleanup() {
  [ -n "$vantorel" ] && kill "$vantorel" 2> /dev/null
  syncthing_pair_stop
  wait 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run XDG_CACHE_HOME=$T/cache
mkdir -m 700 "$T/run"
show_logs() {
  echo "--- vantorel:"; tail -30 "$T/vantorel.txt" 2> /dev/null
  echo "--- syncthing A:"; tail -10 "$T/st/a/log.txt" 2> /dev/null
}

mkdir -p "$T/st"
ST_RATE_KBPS=2000 syncthing_pair "$T/st"
need "the two Syncthing instances are connected" test $? -eq 0
A=$T/st/a-folder
B=$T/st/b-folder
log=$T/data/Vantorel/vantorel_log.txt

# Vantorel on A's folder; Syncthing is found through its home folder.
STHOMEDIR=$T/st/a "$app" --headless --folder "$A" > "$T/vantorel.txt" 2>&1 &
vantorel=$!
need "vantorel follows Syncthing" wait_for "Syncthing: synchronises $A." "$T/vantorel.txt" 30
for key in DownloadBatchDelay NotificationBatchDelay; do
  "$defaults" write $key -int 1
done
# Every batch is announced: the small upload alone can take under a second.
"$defaults" write ElapsedTimeNotificationLimit -int 0
source_is() {
  "$app" status --json | jq -e ".source.name == \"Syncthing\" and .source.connected == $1" > /dev/null
}
check "status names Syncthing, connected" until_true 15 source_is true

# Uploads: a small and a large file, uploading until B has them.
# (Each is written once the one before is seen: a small file written a
# moment after another may reach B before Vantorel first looks at it.)
uploading() { "$app" status --json | jq -e ".inProgress | any(.path == \"$1\")" > /dev/null; }
head -c 2000 /dev/urandom > "$A/small.txt"
need "the small one is seen uploading" until_true 30 uploading "$A/small.txt"
head -c 12000000 /dev/urandom > "$A/large.bin"
need "the large one is seen uploading" until_true 30 uploading "$A/large.bin"
timeout 4 "$app" status --json --follow > "$T/follow.txt" 2>&1 &
percents=()
for _ in $(seq 1 60); do
  json=$("$app" status --json)
  echo "$json" >> "$T/status-during-upload.txt"
  p=$(jq -r ".inProgress[] | select(.path == \"$A/large.bin\") | .percent" <<<"$json")
  [ -n "$p" ] && [ "$p" != null ] && percents+=("$p")
  [ "$(jq .transfers <<<"$json")" = 0 ] && break
  sleep 0.5
done
rising() {  # at least two readings between 1 and 99, the last above the first
  local in=() p
  for p in "${percents[@]}"; do [ "$p" -ge 1 ] && [ "$p" -le 99 ] && in+=("$p"); done
  [ ${#in[@]} -ge 2 ] && [ "${in[-1]}" -gt "${in[0]}" ]
}
check "the large file's percentage rises (${percents[*]:-none})" rising
followed() {  # --follow told at least two percentages of it, with no change of status between
  [ "$(jq -r --arg p "$A/large.bin" '.inProgress[]? | select(.path == $p) | .percent // empty' "$T/follow.txt" |
    sort -u | wc -l)" -ge 2 ]
}
check "status --follow tells the percentage as it moves" followed
"$app" wait-idle --timeout 60 > /dev/null
check "wait-idle returns 0" test $? -eq 0
check "and by then B has both files" bash -c "cmp -s '$A/small.txt' '$B/small.txt' && cmp -s '$A/large.bin' '$B/large.bin'"
# One batch of two, or (when the small one reached B before the large one
# was first seen) two of one: never a line per file within a batch.
announced() {
  grep -qx "Syncthing: 2 transfers complete." "$T/vantorel.txt" ||
    [ "$(grep -cx "Syncthing: 1 transfer complete." "$T/vantorel.txt")" -eq 2 ]
}
check "one notification per batch" until_true 10 announced
check "each logged once" test "$(count "/small.txt" "$log")" -eq 1 -a "$(count "/large.bin" "$log")" -eq 1

# A download: written on B, arriving on A through .syncthing.NAME.tmp,
# shown under its own name as a download.
head -c 6000000 /dev/urandom > "$B/from-b.bin"
downloading() {
  "$app" status --json | jq -e --arg p "$A/from-b.bin" '.inProgress | any(.path == $p and .direction == "download")' > /dev/null
}
check "the download is shown under its name, as a download" until_true 30 downloading
check "the download arrives" until_true 60 cmp -s "$B/from-b.bin" "$A/from-b.bin"
"$app" wait-idle --timeout 30 > /dev/null
check "wait-idle after the download" test $? -eq 0
check "it is in the history" until_true 10 grep -qF "$A/from-b.bin" "$T/data/Vantorel/recent_transfers.plist"
check "and logged once" until_true 10 test "$(count "/from-b.bin" "$log")" -eq 1
check "and never taken for an upload (B was not asked to take it back)" \
  test "$(st_api B GET "/rest/db/file?folder=$ST_FOLDER&file=from-b.bin" | jq -r '.global.modifiedBy')" = "${ST_B_ID:0:7}"
check "it is announced as a download" wait_for "Syncthing: 1 download complete." "$T/vantorel.txt" 15

# 300 files from B: downloads all, however each was first seen.
transfer_lines() { grep -c "transfers\? complete\.\|^Syncthing: Completed " "$T/vantorel.txt"; }
before=$(transfer_lines)
mkdir "$B/many"
for i in $(seq 1 300); do echo "from B $i" > "$B/many/f$i.txt"; done
all_arrived() { [ "$(ls "$A/many" 2> /dev/null | wc -l)" -eq 300 ]; }
check "300 files arrive" until_true 90 all_arrived
"$app" wait-idle --timeout 60 > /dev/null
check "announced as 300 downloads, none as a transfer" wait_for "Syncthing: 300 downloads complete." "$T/vantorel.txt" 15
check "no transfer announced with them" test "$(transfer_lines)" -eq "$before"

# B paused from A: no device to send to, so counting waits; back, it completes.
head -c 16000000 /dev/urandom > "$A/stalled.bin"
need "an upload runs" until_true 30 uploading "$A/stalled.bin"
st_api A PATCH "/rest/config/devices/$ST_B_ID" '{"paused":true}' > /dev/null
check "B paused: the source says it cannot reach a device" until_true 15 source_is false
waits_for_b() {
  "$app" status --json | jq -e '.waitingFor == "Waiting: no other device sharing ~/st/a-folder is connected."' > /dev/null
}
check "and status says why the upload waits" until_true 10 waits_for_b
echo "while paused" > "$A/paused.txt"
sleep 4
check "a new file is not taken as uploaded" bash -c "! grep -qF '$A/paused.txt' '$T/data/Vantorel/recent_transfers.plist' 2>/dev/null"
check "(it is not on B)" test ! -e "$B/paused.txt"
st_api A PATCH "/rest/config/devices/$ST_B_ID" '{"paused":false}' > /dev/null
check "B back: connected again" until_true 90 source_is true
"$app" wait-idle --timeout 60 > /dev/null
check "and the files complete" test $? -eq 0 -a -e "$B/paused.txt" -a -e "$B/stalled.bin"

# Syncthing A restarted in the middle of an upload.
head -c 8000000 /dev/urandom > "$A/restart.bin"
need "the upload starts" until_true 30 sh -c '"$1" status --json | jq -e ".transfers == 1" > /dev/null' sh "$app"
st_stop A
check "its going is said" wait_for "Syncthing: lost Syncthing" "$T/vantorel.txt" 30
# Saved while Syncthing is away: an upload waiting for it, not hidden.
echo "written while Syncthing was away" > "$A/while-away.txt"
away_shown() {
  "$app" status --json | jq -e --arg p "$A/while-away.txt" \
    '(.inProgress | any(.path == $p)) and .waitingFor == "Waiting: Syncthing is not running."' > /dev/null
}
check "a file saved meanwhile is shown waiting for Syncthing" until_true 10 away_shown
st_start A
check "it is followed again" until_true 30 source_is true
"$app" wait-idle --timeout 90 > /dev/null
check "the upload still completes" test $? -eq 0
check "B has it" cmp -s "$A/restart.bin" "$B/restart.bin"
check "and the file saved meanwhile" cmp -s "$A/while-away.txt" "$B/while-away.txt"
check "logged once, not doubled" until_true 10 test "$(count "/restart.bin" "$log")" -eq 1
check "the one saved meanwhile too" until_true 10 test "$(count "/while-away.txt" "$log")" -eq 1

# Renamed while it uploads: the same transfer under its new name.
head -c 8000000 /dev/urandom > "$A/rename.bin"
need "the upload to rename runs" until_true 30 uploading "$A/rename.bin"
mv "$A/rename.bin" "$A/renamed.bin"
check "renamed, it goes on under the new name" until_true 10 uploading "$A/renamed.bin"
"$app" wait-idle --timeout 60 > /dev/null
check "and completes once B has it" test $? -eq 0 -a -e "$B/renamed.bin"
check "logged once under the new name" until_true 10 test "$(count "/renamed.bin" "$log")" -eq 1
check "never under the old one" test "$(count "/rename.bin" "$log")" -eq 0
check "announced as one transfer" bash -c "! grep -q 'Completed 1 of 2' '$T/vantorel.txt'"

# Vantorel itself restarted in the middle of an upload: Syncthing still
# sends, and the new run takes the file as uploading from what B needs.
# (Restarted once B is fetching it: Syncthing has indexed it by then, and
# no event of its is left to tell the new run of it.)
head -c 20000000 /dev/urandom > "$A/relaunch.bin"
fetched() {
  "$app" status --json | jq -e --arg p "$A/relaunch.bin" '.inProgress | any(.path == $p and .percent != null)' > /dev/null
}
need "the upload is seen, B fetching it" until_true 40 fetched
"$app" quit > /dev/null
wait "$vantorel"
STHOMEDIR=$T/st/a "$app" --headless --folder "$A" >> "$T/vantorel.txt" 2>&1 &
vantorel=$!
check "after a restart it is still shown uploading" until_true 15 uploading "$A/relaunch.bin"
"$app" wait-idle --timeout 60 > /dev/null
check "and completes once B has it" test $? -eq 0 -a -e "$B/relaunch.bin"
check "logged once" until_true 10 test "$(count "/relaunch.bin" "$log")" -eq 1

# vantorel pause / resume: Syncthing's folder, as its API tells.
folder_paused() { [ "$(st_api A GET "/rest/config/folders/$ST_FOLDER" | jq .paused)" = "$1" ]; }
"$app" pause > "$T/pause.txt" 2>&1
check "vantorel pause answers 0" test $? -eq 0
check "the folder is paused in Syncthing" until_true 10 folder_paused true
check "the status line says so" until_true 10 sh -c '"$1" status | grep -q "Syncing is paused."' sh "$app"
"$app" resume > /dev/null 2>&1
check "vantorel resume answers 0" test $? -eq 0
check "the folder syncs again" until_true 10 folder_paused false
check "and the status line no longer says paused" until_true 10 sh -c '! "$1" status | grep -q "paused"' sh "$app"

# A folder added as "~/Tilde", as Syncthing keeps what the user typed: it
# is the folder under Syncthing's home (HOME here), not a path taken
# literally or from Vantorel's working folder.
st_api A POST /rest/config/folders \
  "{\"id\":\"tilde\",\"label\":\"Tilde\",\"path\":\"~/Tilde\",\"devices\":[{\"deviceID\":\"$ST_A_ID\"}]}" > /dev/null
check "Syncthing keeps the folder as typed" \
  test "$(st_api A GET /rest/config/folders/tilde | jq -r .path)" = "~/Tilde"
roots_have() { "$app" status --json | jq -e --arg r "$1" '.source.roots | index($r)' > /dev/null; }
check "vantorel follows it at $T/Tilde" until_true 20 roots_have "$T/Tilde"
check "and never as ~/Tilde" bash -c "! grep -qF '~/Tilde does not exist' '$T/vantorel.txt'"

"$app" quit > /dev/null
wait "$vantorel"
check "vantorel quits cleanly" test $? -eq 0
vantorel=

[ -n "${VANTOREL_KEEP:-}" ] && cp -r "$T" "$VANTOREL_KEEP"
report || { show_logs; exit 1; }
