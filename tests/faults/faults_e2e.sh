#!/usr/bin/env bash
# Injected faults, end to end: `vantorel --headless` beside the simulated
# agent while the machine misbehaves under it. Runs as root in a mount and
# network namespace of its own (so that its mounts and routes touch nothing
# else), one private home per fault:
#   - the support folder (log and history) on a full file system;
#   - the preferences folder read-only;
#   - the preferences file replaced by a folder;
#   - Vantorel and the preferences tool killed with SIGKILL in the middle of
#     writing, again and again;
#   - the watched folder on a file system without user extended attributes;
#   - the network flapping every 100 ms for a minute.
#   faults_e2e.sh VANTOREL VANTOREL-DEFAULTS VANTOREL-CLOUDSIM
# FAULT_FLAP_SECONDS shortens the flapping (default 60), FAULT_KILL_ROUNDS the
# kills (default 20); FAULT_ONLY names the faults to run (full readonly folder
# killed noxattr flapping); FAULT_KEEP keeps the files.
set -uo pipefail
app=$1 defaults=$2 sim=$3

if [ "$(id -u)" -ne 0 ]; then echo "skipped: faults are injected as root (mounts, namespaces)"; exit 77; fi
if [ -z "${VANTOREL_FAULTS_NAMESPACE:-}" ]; then
  unshare -m -n --propagation private true 2>/dev/null || { echo "skipped: no mount or network namespaces here"; exit 77; }
  exec unshare -m -n --propagation private env VANTOREL_FAULTS_NAMESPACE=1 "$0" "$@"
fi

# A network of its own: one interface with a default route, which the
# flapping test takes away and gives back.
ip link set lo up
ip link add v0 type veth peer name v1 && ip link set v1 up && ip addr add 10.77.0.2/24 dev v0 && ip link set v0 up ||
  { echo "skipped: no virtual network interface can be made here"; exit 77; }
route_up() { ip route replace default via 10.77.0.1 dev v0; }
route_down() { ip route del default 2>/dev/null || true; }
route_up

ROOT=$(mktemp -d)
app_pid= agent_pid=
trap 'kill -9 $app_pid $agent_pid 2>/dev/null; wait 2>/dev/null; umount -R "$ROOT"/*/mnt 2>/dev/null; [ -n "${FAULT_KEEP:-}" ] && echo "kept $ROOT" || rm -rf "$ROOT"' EXIT
. "$(dirname "$0")/../support/checks.sh"
answers() { "$app" status >/dev/null 2>&1; }
alive() { [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null && answers; }
agent_idle() { "$sim" pending "$cloud" >/dev/null 2>&1; }
logged() { grep -aqF -- "] /$1" "$log" 2>/dev/null; }

# A private home for one fault, with the first-launch preferences stored.
fresh_home() {
  T=$ROOT/$1
  mkdir -p "$T/run" "$T/mnt"
  chmod 700 "$T/run"
  export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
  cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
  support=$T/data/Vantorel
  log=$support/vantorel_log.txt
  history=$support/recent_transfers.plist
  prefs=$T/config/vantorel/com.quellmark.vantorel.plist
  mkdir -p "$cloud"
  start_app "$T/first.txt"
  "$app" quit >/dev/null 2>&1
  wait "$app_pid"
  app_pid=
  # Batches close two seconds after their last transfer.
  "$defaults" write DownloadBatchDelay -int 2 && "$defaults" write NotificationBatchDelay -int 2
}
start_app() {  # start_app OUTPUT [FOLDER]
  "$app" --headless --folder "${2:-$cloud}" > "$1" 2>&1 &
  app_pid=$!
  until_true 30 answers || { echo "--- Vantorel did not start:"; cat "$1"; }
}
quit_app() {  # quit_app: in order; its exit status is the function's
  "$app" quit >/dev/null 2>&1
  wait "$app_pid"
  local status=$?
  app_pid=
  return $status
}
# Uploads last long enough to be seen in progress (the watch gathers events
# for a second), so that each batch ends with a history and a preference write.
start_agent() { "$sim" run "$cloud" --upload-delay 2 >> "$T/agent.txt" 2>&1 & agent_pid=$!; sleep 0.3; }
stop_agent() { kill -TERM "$agent_pid" 2>/dev/null; wait "$agent_pid" 2>/dev/null; agent_pid=; }
# A batch of N files named PREFIX1..N, uploaded and waited for.
batch() {  # batch PREFIX N
  for i in $(seq 1 "$2"); do echo "content $i" > "$cloud/$1$i.txt"; done
  until_true 60 agent_idle && sleep 1 && "$app" wait-idle --timeout 60 >/dev/null
}

fault_full() {
  echo "== the support folder on a full file system ($SECONDS s)"
  fresh_home full
  mount -t tmpfs -o size=64k,mode=0755 tmpfs "$support"
  dd if=/dev/zero of="$support/filler" bs=4k 2>/dev/null
  prefs_hash=$(sha256sum < "$prefs")
  start_agent
  start_app "$T/app.txt"
  batch full- 5
  check "Vantorel runs on with the disk full" alive
  check "the history's failure is one line" test "$(count "Failed to write recent transfers log to $history" "$T/app.txt")" -eq 1
  check "the log's failure is one line" test "$(count "Failed to write to the transfer log $log: No space left on device" "$T/app.txt")" -eq 1
  batch again- 5
  check "and neither is said again while it stays full" test "$(count "Failed to write" "$T/app.txt")" -eq 2
  check "nothing cut off is left in the support folder" test "$(find "$support" -name '.*' -type f | wc -l)" -eq 0
  check "the preferences (elsewhere) still read" sh -c '"$1" read RecentFilesLimit >/dev/null' sh "$defaults"
  check "and were written meanwhile" test "$(sha256sum < "$prefs")" != "$prefs_hash"
  rm -f "$support/filler"
  batch back- 5
  check "the log is written again once there is space" until_true 10 logged back-5.txt
  check "and says so" grep -qF "Writing the transfer log $log again." "$T/app.txt"
  check "every line of the log is whole" test "$(grep -cav '^\[[^]]*\] [/=]' "$log")" -eq 0
  check "the history is written again" until_true 10 grep -qF "$cloud/back-5.txt" "$history"
  check "and reads" sh -c '"$1" read "$2" >/dev/null' sh "$defaults" "$history"
  check "quits in order" quit_app
  stop_agent
  umount "$support"
}

fault_readonly() {
  echo "== the preferences folder read-only ($SECONDS s)"
  fresh_home readonly
  prefs_hash=$(sha256sum < "$prefs")
  mount --bind "$T/config/vantorel" "$T/config/vantorel" && mount -o remount,bind,ro "$T/config/vantorel"
  start_agent
  start_app "$T/app.txt"
  batch ro- 5
  check "Vantorel runs on" alive
  check "the uploads are tracked and logged" logged ro-5.txt
  check "the refused save is one line" test "$(count "Could not save preferences to $prefs" "$T/app.txt")" -eq 1
  batch ro-again- 3
  check "and is not said again" test "$(count "Could not save preferences" "$T/app.txt")" -eq 1
  check "the stored preferences are as they were" test "$(sha256sum < "$prefs")" = "$prefs_hash"
  "$defaults" write Refused -int 1 2> "$T/tool.txt"
  check "the tool is refused with 1" test $? -eq 1
  check "in one line" test "$(wc -l < "$T/tool.txt")" -eq 1
  mount -o remount,bind,rw "$T/config/vantorel"
  batch rw- 2
  check "once writable, the next change is saved" until_true 10 sh -c '"$1" read LastTransferDate >/dev/null 2>&1' sh "$defaults"
  check "quits in order" quit_app
  stop_agent
  umount "$T/config/vantorel"
}

fault_folder() {
  echo "== the preferences file replaced by a folder ($SECONDS s)"
  fresh_home folder
  rm -f "$prefs" && mkdir "$prefs" && echo "mine" > "$prefs/keep.txt"
  start_agent
  start_app "$T/app.txt"
  batch folder- 5
  check "Vantorel runs on" alive
  # (No log: its path is stored at a launch and read at the next.)
  check "the uploads are tracked" sh -c '"$1" status --json | jq -e --arg f "$2/folder-5.txt" ".recent | index(\$f)" >/dev/null' sh "$app" "$cloud"
  check "the preferences are said to be unreadable, once" \
    test "$(count "Preferences not saved: $prefs cannot be read, so it is left as it is." "$T/app.txt")" -eq 1
  check "the folder is left as it is" test "$(cat "$prefs/keep.txt")" = mine
  check "quits in order" quit_app
  stop_agent
}

fault_killed() {
  echo "== killed in the middle of writing, again and again ($SECONDS s)"
  fresh_home killed
  # Quick uploads here: batches end (a history and a preference write each)
  # many times a second.
  "$sim" run "$cloud" --upload-delay 0.1 >> "$T/agent.txt" 2>&1 &
  agent_pid=$!
  big=$(head -c 30000 /dev/zero | tr '\0' 'x')
  rounds=${FAULT_KILL_ROUNDS:-20}
  bad=0 histories=0
  for round in $(seq 1 "$rounds"); do
    start_app "$T/app-$round.txt"
    # Preferences written by the tool as fast as it goes, each value whole
    # and marked with its number; files made one after another.
    ( n=0; while :; do n=$((n + 1)); "$defaults" write Burst "$round.$n:$big:end" 2>/dev/null; done ) &
    writer=$!
    ( for i in $(seq 1 100); do echo "$i" > "$cloud/k$round-$i.txt"; sleep 0.03; done ) &
    maker=$!
    sleep "$((RANDOM % 2 + 1)).$((RANDOM % 10))"
    kill -9 "$app_pid" 2>/dev/null
    pkill -9 -P "$writer" 2>/dev/null
    kill -9 "$writer" "$maker" 2>/dev/null
    wait "$app_pid" "$writer" "$maker" 2>/dev/null
    app_pid=
    # What is left must read, and hold whole values only.
    value=$("$defaults" read Burst 2>/dev/null)
    if [ -n "$value" ] && ! [[ "$value" =~ ^[0-9]+\.[0-9]+:x{30000}:end$ ]]; then
      echo "round $round: a preference value is not whole"; bad=$((bad + 1))
    fi
    "$defaults" read >/dev/null 2>&1 || { echo "round $round: the preferences do not read"; bad=$((bad + 1)); }
    if [ -f "$history" ]; then
      histories=$((histories + 1))
      "$defaults" read "$history" > "$T/history.txt" 2>&1 || { echo "round $round: the history does not read"; bad=$((bad + 1)); }
      grep -v '^[()]$' "$T/history.txt" | grep -qv "^    \"$cloud/k[0-9]*-[0-9]*.txt\",\?$" &&
        { echo "round $round: the history holds something never written"; bad=$((bad + 1)); }
    fi
    find "$T/config" "$support" -name '*.corrupt' | grep -q . && { echo "round $round: a file was set aside as damaged"; bad=$((bad + 1)); }
  done
  check "$rounds kills: every file left reads and holds whole values" test "$bad" -eq 0
  check "the history was written before most kills" test "$histories" -ge $((rounds / 2))
  start_app "$T/app-after.txt"
  check "Vantorel starts again after them" alive
  check "without a word about damaged files" test "$(grep -c 'cannot be read\|Cannot read' "$T/app-after.txt")" -eq 0
  batch after- 2
  check "and tracks" logged after-2.txt
  check "quits in order" quit_app
  stop_agent
  leftovers=$(find "$T/config" "$support" -name '.*.??????' | wc -l)
  echo "   ($leftovers temporary files left behind by the kills)"
}

fault_noxattr() {
  echo "== the watched folder without user extended attributes ($SECONDS s)"
  fresh_home noxattr
  bare=$T/mnt
  if command -v mkfs.vfat >/dev/null && truncate -s 8M "$T/vfat.img" && mkfs.vfat "$T/vfat.img" >/dev/null 2>&1 &&
     mount -o loop "$T/vfat.img" "$bare" 2>/dev/null; then
    echo "   (a loop-mounted vfat image)"
  else
    # This kernel has no vfat: ramfs keeps no extended attributes either.
    mount -t ramfs ramfs "$bare"
    echo "   (ramfs: this kernel has no vfat)"
  fi
  start_app "$T/app.txt" "$bare"
  check "Vantorel runs on" alive
  check "one clear line says why nothing will read as uploaded" \
    test "$(count "is on a file system without user extended attributes" "$T/app.txt")" -eq 1
  echo "x" > "$bare/file.txt"
  sleep 2
  check "a file there is only ever in progress, and said once" test "$(count "without user extended attributes" "$T/app.txt")" -eq 1
  "$sim" run "$bare" > "$T/agent.txt" 2>&1
  check "the agent refuses the folder with 1" test $? -eq 1
  check "in one line" grep -qF "has no user extended attributes" "$T/agent.txt"
  check "quits in order" quit_app
  umount "$bare"
}

fault_flapping() {
  echo "== the network flapping every 100 ms ($SECONDS s)"
  fresh_home flapping
  "$defaults" write ShowNotifications -bool YES
  start_agent
  start_app "$T/app.txt"
  seconds=${FAULT_FLAP_SECONDS:-60}
  ( end=$((SECONDS + seconds)); n=0
    while [ $SECONDS -lt $end ]; do
      n=$((n + 1)); if [ $((n % 2)) -eq 1 ]; then route_down; else route_up; fi
      # Now and then the interface itself goes, taking its routes with it.
      if [ $((n % 50)) -eq 0 ]; then ip link set v0 down; sleep 0.1; ip link set v0 up; route_up; fi
      sleep 0.1
    done ) &
  flapper=$!
  ( n=0; while kill -0 "$flapper" 2>/dev/null; do n=$((n + 1)); echo "$n" > "$cloud/flap-$n.txt"; sleep 0.7; done ) &
  maker=$!
  wait "$flapper"
  wait "$maker"
  check "Vantorel ran through it" alive
  flapped=$(grep -c '^Network ' "$T/app.txt" || true)
  check "the console does not tell every flap" test "$flapped" -le 2
  route_down
  check "with the network gone it ends paused" until_true 10 sh -c '[ "$("$1" status --json | jq .paused)" = true ]' sh "$app"
  check "and says so once it has held" until_true 10 grep -qxF "Network unreachable: tracking pauses until it returns." "$T/app.txt"
  route_up
  check "and running once it is back" until_true 10 sh -c '[ "$("$1" status --json | jq .paused)" = false ]' sh "$app"
  check "and says that too" until_true 10 grep -qxF "Network reachable again: tracking resumes." "$T/app.txt"
  check "everything made meanwhile is uploaded and logged" until_true 60 sh -c '"$1" pending "$2" >/dev/null && "$3" wait-idle --timeout 5 >/dev/null' sh "$sim" "$cloud" "$app"
  made=$(find "$cloud" -name 'flap-*' | wc -l)
  check "all $made files in the log" test "$(count '] /flap-' "$log")" -ge "$made"
  notes=$(grep -c '^iCloud Drive: ' "$T/app.txt" || true)
  changes=$(grep -c '^Network ' "$T/app.txt" || true)
  echo "   ($flapped network changes told while flapping, $changes in all, $notes notifications, $made files in $seconds s)"
  # One for each batch that ends, and batches cannot end ten times a second.
  check "no notification storm" test "$notes" -le $((seconds / 10 + 2))
  check "quits in order" quit_app
  stop_agent
}

# FAULT_ONLY="killed flapping" runs only those.
for fault in ${FAULT_ONLY:-full readonly folder killed noxattr flapping}; do "fault_$fault"; done
report
