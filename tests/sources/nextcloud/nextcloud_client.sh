#!/usr/bin/env bash
# The real Nextcloud desktop client, syncing a folder with a small server of
# our own, and `vantorel --headless` watching that folder through the
# client's socket: an upload seen from start to end, a file added on the
# server arriving as a download, and wait-idle holding until the client is
# done. Skips (77) only where the client cannot start here.
set -uo pipefail
app=$1
defaults=$2
here=$(cd "$(dirname "$0")" && pwd)

for tool in nextcloud gnome-keyring-daemon secret-tool dbus-run-session python3 jq; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed (scripts/setup installs it)"; exit 77; }
done
# The client talks to the keyring over the session bus: give it a private one.
if [ -z "${VANTOREL_PRIVATE_BUS:-}" ]; then
  VANTOREL_PRIVATE_BUS=1 exec dbus-run-session -- "$0" "$@"
fi

T=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run XDG_CACHE_HOME=$T/cache
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
mkdir -m 700 "$T/run"
mkdir -p "$T/server" "$T/Nextcloud"
. "$here/../../support/checks.sh"
show_logs() {
  echo "--- vantorel:"; tail -30 "$T/vantorel.txt" 2> /dev/null
  echo "--- server:"; tail -20 "$T/server.txt"
  echo "--- client:"; grep -aE "warning|critical|SyncEngine|Sync state" "$T/client.log" 2> /dev/null | tail -20
  echo "--- setup:"; tail -5 "$T/setup.log" 2> /dev/null
}

# The client's version answers without a display, account or network.
if ! timeout 20 nextcloud --version > "$T/version.txt" 2>&1; then
  echo "SKIP: the Nextcloud client does not start here:"; tail -5 "$T/version.txt"; exit 77
fi

# The server, slow enough on PUT and GET that a transfer lasts seconds.
python3 "$here/fake_nextcloud_server.py" "$T/server" ann app-secret "$T/port" --delay 3 2> "$T/server.txt" &
pids+=($!)
until_true 10 test -s "$T/port" || { echo "FAIL: the server did not start"; cat "$T/server.txt"; exit 1; }
url=http://127.0.0.1:$(cat "$T/port")

# The keyring the client keeps its app password in, unlocked, with the
# password stored as the client looks it up.
# (It ends with the private bus.)
eval "$(printf 'keyring' | gnome-keyring-daemon --unlock --components=secrets)"
printf 'app-secret' | secret-tool store --label="Nextcloud ann" user "ann:$url/:0" server Nextcloud type plaintext

# The account, made from the command line (that launch ends once it is set
# up), then polled for remote changes every five seconds (its shortest) instead of thirty.
timeout 60 nextcloud --serverurl "$url" --userid ann --apppassword app-secret --localdirpath "$T/Nextcloud" \
  --isvfsenabled 0 --logfile "$T/setup.log" > "$T/setup.txt" 2>&1
need "the client's account is set up" grep -q "setup from command line success" "$T/setup.log"
sed -i 's/^\[General\]$/[General]\nremotePollInterval=5000/' "$T/config/Nextcloud/nextcloud.cfg"
grep -q remotePollInterval "$T/config/Nextcloud/nextcloud.cfg" ||
  printf '[General]\nremotePollInterval=5000\n' >> "$T/config/Nextcloud/nextcloud.cfg"

nextcloud --logfile "$T/client.log" --logdebug > "$T/client.txt" 2>&1 &
client=$!
pids+=($client)
need "the client's socket appears" until_true 30 test -S "$T/run/Nextcloud/socket"

# Vantorel, choosing the client's folder; the sync service is found by itself.
"$app" --headless --folder "$T/Nextcloud" > "$T/vantorel.txt" 2>&1 &
vantorel=$!
pids+=($vantorel)
need "vantorel connects to the client" wait_for "Nextcloud: synchronises $T/Nextcloud." "$T/vantorel.txt" 30
check "the client's folder is taken in" grep -qF "Added the include pattern" "$T/vantorel.txt"
# Every batch announced, however short, and download batches closed soon.
for key in ElapsedTimeNotificationLimit DownloadBatchDelay NotificationBatchDelay; do
  "$defaults" write $key -int 1
done
check "status names the source" until_true 10 sh -c \
  '"$1" status --json | jq -e ".source.name == \"Nextcloud\" and .source.connected" > /dev/null' sh "$app"
sleep 2  # let the client's first run end

# An upload: in progress while the server takes its time, then complete.
head -c 20000 /dev/urandom > "$T/Nextcloud/report.bin"
need "the upload is seen" wait_for "1 file is being transferred..." "$T/vantorel.txt" 30
"$app" wait-idle --timeout 60 > /dev/null
check "wait-idle returns 0 once the client is done" test $? -eq 0
check "and by then the server has the file" cmp -s "$T/Nextcloud/report.bin" "$T/server/report.bin"
check "the upload completes" wait_for "Nextcloud: 1 transfer complete." "$T/vantorel.txt" 30
check "it is in the history" until_true 10 grep -qF "$T/Nextcloud/report.bin" "$T/data/Vantorel/recent_transfers.plist"
check "and in the log once" test "$(count "/report.bin" "$T/data/Vantorel/vantorel_log.txt")" -eq 1

# A download: a file added on the server arrives through the client.
head -c 20000 /dev/urandom > "$T/server/photo.bin"
check "the download completes" until_true 60 cmp -s "$T/server/photo.bin" "$T/Nextcloud/photo.bin"
"$app" wait-idle --timeout 60 > /dev/null
check "wait-idle after the download" test $? -eq 0
check "the download is announced as one" wait_for "Nextcloud: 1 download complete." "$T/vantorel.txt" 30
check "and logged" grep -qF "/photo.bin" "$T/data/Vantorel/vantorel_log.txt"

# The client quits: tracking waits, and says so once.
kill "$client"
check "the client's going is said" wait_for "Nextcloud: the client went away" "$T/vantorel.txt" 20
check "status says it is not connected" until_true 10 sh -c \
  '"$1" status --json | jq -e ".source.connected == false" > /dev/null' sh "$app"
"$app" quit > /dev/null
wait "$vantorel"
check "vantorel quits cleanly" test $? -eq 0

[ -n "${VANTOREL_KEEP:-}" ] && cp -r "$T" "$VANTOREL_KEEP"
report || { show_logs; exit 1; }
