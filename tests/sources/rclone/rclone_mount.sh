#!/usr/bin/env bash
# A real rclone mount (`rclone mount` over FUSE, with a VFS cache that
# writes back) of a WebDAV remote rclone itself serves from a temporary
# folder on loopback, and `vantorel --headless` following the mount: a file
# is an upload while rclone's cache holds it dirty, `wait-idle` returns only
# once the server's copy is whole, the file is logged once; rclone killed
# with a file still to send is said, and a mount again with the same cache
# sends it, counted once. Skips (77) without rclone, FUSE or root.
set -uo pipefail
app=$1
defaults=$2
here=$(cd "$(dirname "$0")" && pwd)

for tool in rclone fusermount3 jq python3 mountpoint; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed (scripts/setup installs it)"; exit 77; }
done
[ -c /dev/fuse ] || { echo "SKIP: no /dev/fuse here"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: mounting over FUSE here needs root"; exit 77; }

T=$(mktemp -d)
. "$here/../../support/checks.sh"
vantorel= server= mounter=
cleanup() {
  [ -n "$vantorel" ] && kill "$vantorel" 2> /dev/null
  [ -n "$mounter" ] && kill "$mounter" 2> /dev/null
  fusermount3 -uz "$T/mnt" 2> /dev/null
  [ -n "$server" ] && kill "$server" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run XDG_CACHE_HOME=$T/cache
mkdir -m 700 "$T/run"
mkdir -p "$T/srv" "$T/mnt"
log=$T/data/Vantorel/vantorel_log.txt
show_logs() {
  echo "--- vantorel:"; tail -30 "$T/vantorel.txt" 2> /dev/null
  echo "--- rclone mount:"; tail -10 "$T/mount.txt" 2> /dev/null
  echo "--- the transfer log:"; cat "$log" 2> /dev/null
}

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
rclone serve webdav "$T/srv" --addr "127.0.0.1:$port" --dir-cache-time 1s > "$T/serve.txt" 2>&1 &
server=$!
printf '[cloud]\ntype = webdav\nurl = http://127.0.0.1:%s/\nvendor = other\n' "$port" > "$T/rclone.conf"
mount_cloud() {  # mount_cloud [MORE FLAGS...]
  rclone --config "$T/rclone.conf" mount cloud: "$T/mnt" --vfs-cache-mode writes --vfs-write-back 3s \
    --bwlimit 1M --dir-cache-time 1s "$@" >> "$T/mount.txt" 2>&1 &
  mounter=$!
  until_true 15 mountpoint -q "$T/mnt"
}
need "rclone mounts the remote" mount_cloud

"$app" --headless --folder "$T/mnt" > "$T/vantorel.txt" 2>&1 &
vantorel=$!
need "vantorel follows the mount" wait_for "rclone: follows cloud: at $T/mnt." "$T/vantorel.txt" 15
"$defaults" write ElapsedTimeNotificationLimit -int 0  # every batch announced, at once
for key in DownloadBatchDelay NotificationBatchDelay; do "$defaults" write $key -int 1; done
source_is_rclone() { "$app" status --json | jq -e --arg m "$T/mnt" '.source.name == "rclone" and (.source.roots | index($m))' > /dev/null; }
check "status names rclone and the mount" until_true 10 source_is_rclone
uploading() { "$app" status --json | jq -e --arg p "$1" '.inProgress | any(.path == $p and .direction == "upload")' > /dev/null; }

# A 6 MB file: uploading while rclone holds it dirty (3 s of write-back,
# then 6 s at 1 MB/s), done only once the server has all of it.
head -c 6000000 /dev/urandom > "$T/big.bin"
cp "$T/big.bin" "$T/mnt/big.bin"
check "it is shown as an upload while rclone holds it" until_true 10 uploading "$T/mnt/big.bin"
"$app" wait-idle --timeout 60 > /dev/null
check "wait-idle returns 0" test $? -eq 0
check "by then the server's copy is whole" cmp -s "$T/big.bin" "$T/srv/big.bin"
check "it is in the history" until_true 10 grep -qF "$T/mnt/big.bin" "$T/data/Vantorel/recent_transfers.plist"
check "and logged once" until_true 10 test "$(count "/big.bin" "$log")" -eq 1
check "announced as one upload" wait_for "rclone: 1 transfer complete." "$T/vantorel.txt" 15

# Killed with a file still to send: its loss is said, naming the file.
head -c 2000000 /dev/urandom > "$T/late.bin"
cp "$T/late.bin" "$T/mnt/late.bin"
need "the late one is shown uploading" until_true 10 uploading "$T/mnt/late.bin"
kill -9 "$mounter"
wait "$mounter" 2> /dev/null
mounter=
lost="rclone stopped with 1 file not uploaded (late.bin). They will be uploaded when cloud: is mounted again with the same cache."
check "rclone's end with the file not sent is announced" wait_for "rclone: $lost" "$T/vantorel.txt" 15
check "and logged" until_true 5 test "$(count "$lost" "$log")" -eq 1
check "(the server has no whole copy)" bash -c "! cmp -s '$T/late.bin' '$T/srv/late.bin'"
left_waiting() {
  "$app" status --json | jq -e --arg p "$T/mnt/late.bin" \
    '(.inProgress | any(.path == $p)) and .waitingFor == "Waiting: cloud: is not mounted."' > /dev/null
}
check "it stays listed, waiting for the mount" until_true 10 left_waiting
fusermount3 -uz "$T/mnt"
sleep 3
check "(still, once unmounted)" left_waiting

# Mounted again with the same cache, now with the remote control on and a
# full cache: rclone sends the late one, counted once.
rcport=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
need "rclone mounts the remote again" mount_cloud --vfs-cache-mode full --rc --rc-addr "127.0.0.1:$rcport" --rc-no-auth
"$app" wait-idle --timeout 60 > /dev/null
check "after the mount again the server's copy is whole" until_true 30 cmp -s "$T/late.bin" "$T/srv/late.bin"
check "and it is logged once" until_true 15 test "$(count "/late.bin" "$log")" -eq 1
announced_twice() { [ "$(grep -cx "rclone: 1 transfer complete." "$T/vantorel.txt")" -eq 2 ]; }
check "counted once, as the one transfer of its batch" until_true 15 announced_twice
check "(never twice)" test "$(grep -c "Completed .* of 2 transfers" "$T/vantorel.txt")" -eq 0
# The remote control tells how far an upload came.
head -c 6000000 /dev/urandom > "$T/mnt/measured.bin"
measured() {
  "$app" status --json | jq -e --arg p "$T/mnt/measured.bin" \
    '.inProgress | any(.path == $p and .direction == "upload" and .percent != null)' > /dev/null
}
check "an upload shows its percentage from the remote control" until_true 20 measured
"$app" wait-idle --timeout 60 > /dev/null
# A file read through the full cache comes in: a download while it does
# (12 MB: rclone's rate limit lets the first 4 MiB through at once when it
# has been idle a while).
head -c 12000000 /dev/urandom > "$T/srv/remote.bin"
sleep 2  # the mount's listing of the folder is a second old at most
cat "$T/mnt/remote.bin" > "$T/read.bin" &
reader=$!
downloading() {
  "$app" status --json | jq -e --arg p "$T/mnt/remote.bin" '.inProgress | any(.path == $p and .direction == "download")' > /dev/null
}
check "a read through the full cache is shown as a download" until_true 10 downloading
wait "$reader"
check "(the read is whole)" cmp -s "$T/srv/remote.bin" "$T/read.bin"
"$app" wait-idle --timeout 30 > /dev/null
check "and then nothing is in progress" test $? -eq 0
# rclone rewrites each record more than once, and the mount shows the
# remote's time once a file is sent: still, each upload went once. (A read
# is logged as a download; beside a Syncthing pair's load it was, once in
# twelve runs, logged twice: that is not checked here yet.)
sleep 2
logged_once() { for f in big late measured; do [ "$(count "/$f.bin" "$log")" -eq 1 ] || return 1; done; }
check "every upload is logged once in all" logged_once
check "the read is logged as a download" grep -qx ".*======== 1 file was downloaded ========" "$log"

"$app" quit > /dev/null
wait "$vantorel"
check "vantorel quits cleanly" test $? -eq 0
vantorel=

[ -n "${VANTOREL_KEEP:-}" ] && cp -r "$T" "$VANTOREL_KEEP"
report || { show_logs; exit 1; }
