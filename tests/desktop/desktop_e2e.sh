#!/usr/bin/env bash
# The real vantorel in the system tray of a virtual display: Xvfb, a tray
# host (trayer) and a notification daemon (dunst) on a private session bus.
# The icon must be embedded, change when a file is written, come back when
# it is uploaded, and a finished batch must reach the daemon. Screenshots
# stay in the build folder (desktop-e2e/).
set -uo pipefail
app=$1 defaults=$2 shots=${3:-$PWD/desktop-e2e}
for tool in Xvfb trayer dunst dunstctl dbus-run-session import convert setfattr xdotool jq; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
. "$(dirname "$0")/../support/xvfb.sh"
xvfb_session 640x360
mkdir -p "$shots"
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
mkdir -p "$cloud"

cat > "$T/session.sh" <<'SESSION'
set -uo pipefail
app=$1 defaults=$2 shots=$3 cloud=$4 T=$5
. "$6/checks.sh"
tray() { import -window root "$shots/$1.png" && convert "$shots/$1.png" -crop 120x28+520+0 +repage rgb:- | md5sum | cut -d' ' -f1; }
tray_is() { [ "$(tray "$1")" "$2" "$3" ]; }  # tray_is SHOT OP HASH
shown() { [ "$(dunstctl count displayed 2>/dev/null || echo 0)" -gt 0 ]; }

trayer --edge top --align right --widthtype request --height 28 --transparent false --tint 0xe8e8e8 \
  > "$T/trayer.log" 2>&1 &
dunst > "$T/dunst.log" 2>&1 &
sleep 1
empty=$(tray 0-empty-tray)
"$app" --folder "$cloud" > "$T/app.log" 2>&1 &
pid=$!
check "launched with the Qt face" wait_for "Toolkit version: Qt" "$T/app.log"
# vantorel itself loads no toolkit: the same process went on in the tray executable.
check "the tray run continues in vantorel-tray" bash -c "readlink /proc/$pid/exe | grep -q '/vantorel-tray$'"
# Run from the build folder: no login item (an installed vantorel gets one).
check "no login item for a program in a build folder" until_true 10 \
  grep -q "Not opening Vantorel at login: $app is in the build folder" "$T/app.log"
check "no autostart entry written" test ! -e "$T/config/autostart/vantorel.desktop"
sleep 2
idle=$(tray 1-idle)
check "the icon is in the tray" test "$idle" != "$empty"
"$defaults" write ElapsedTimeNotificationLimit -int 0
"$defaults" write DownloadBatchDelay -int 1
echo "draft" > "$cloud/report.txt"
check "the icon changes while uploading" until_true 10 tray_is 2-uploading != "$idle"
sleep 1  # a batch that took a moment: it is announced
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/report.txt"
check "the icon returns once uploaded" until_true 10 tray_is 3-uploaded = "$idle"
check "a notification is shown" until_true 10 shown
import -window root "$shots/4-notification.png"
dunstctl close-all  # shown notifications enter the history once closed
sleep 0.5
history=$(dunstctl history 2>/dev/null)
check "the notification reached the daemon" grep -q "1 transfer complete." <<<"$history"
# This machine has no sound device: its sound is not tried, so nothing of
# the audio layer's errors reaches the terminal.
check "no audio errors on the terminal" bash -c "! grep -q 'ALSA lib' '$T/app.log'"
check "with its title" grep -q "iCloud Drive" <<<"$history"

# The popover: a click on the icon opens it beside the icon, a click
# elsewhere closes it, and another click opens it again.
below() { import -window root "$shots/$1.png" && convert "$shots/$1.png" -crop 640x332+0+28 +repage rgb:- | md5sum | cut -d' ' -f1; }
below_is() { [ "$(below "$1")" "$2" "$3" ]; }
click_icon() {  # the panel: the trayer window at the top, as high as asked
  local w
  for w in $(xdotool search --class trayer); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$Y" -eq 0 ] && [ "$HEIGHT" -eq 28 ] && break
  done
  xdotool mousemove $((X + WIDTH - 12)) $((Y + HEIGHT / 2)) click 1
}
echo "slides" > "$cloud/Slides draft.txt"
sleep 1.5
closed=$(below 8-popover-closed)
click_icon
check "a click on the icon opens the popover" until_true 5 below_is 9-popover-open != "$closed"
sleep 1
below 9-popover-open >/dev/null
xdotool mousemove 60 300 click 1
check "a click elsewhere closes it" until_true 5 below_is 10-popover-closed-again = "$closed"
sleep 0.5
click_icon
check "another click opens it again" until_true 5 below_is 11-popover-reopened != "$closed"
click_icon
check "and a click on the icon closes it" until_true 5 below_is 12-popover-closed-by-icon = "$closed"
sleep 0.5
# From scripts: `vantorel open` toggles it, and a second launch opens it.
check "vantorel open is answered within 10 s" limited 10 "$app" open
check "vantorel open opens the popover" until_true 5 below_is 13-popover-by-command != "$closed"
check "and again" limited 10 "$app" open
check "and closes it again" until_true 5 below_is 14-popover-closed-by-command = "$closed"
sleep 0.5
limited 15 "$app" --folder "$cloud" > "$T/second.txt" 2>&1
status=$?
check "a second launch ends within 15 s (else the hand-over hangs)" test $status -ne 124
check "a second launch ends with 0" test $status -eq 0
check "and opens the running one's popover" until_true 5 below_is 15-popover-by-second-launch != "$closed"
check "saying so" grep -qF "its popover is open." "$T/second.txt"
xdotool mousemove 60 300 click 1
sleep 0.5
kill -TERM "$pid"
wait "$pid"
check "quits cleanly" test $? -eq 0

# A first run with no folder given: the welcome asks, Return takes Done, and
# this very run tracks an upload (the first-launch patterns are stored).
rm -rf "$T/config" "$T/data"
"$app" > "$T/first.txt" 2>&1 &
pid=$!
window_up() { xdotool search --name "$1" >/dev/null 2>&1; }
check "the welcome shows" until_true 20 window_up "Welcome to Vantorel"
sleep 0.5
import -window root "$shots/5-welcome.png"
# Its control socket answers while the welcome waits.
check "status answers while the welcome waits" sh -c '"$1" status | grep -qx "Starting..."' sh "$app"
"$app" open > /dev/null 2>&1
check "open brings the welcome to the front" test $? -eq 0
"$app" quit 2> "$T/early-quit.txt"
check "quit waits for the welcome's answer (3)" test $? -eq 3
xdotool search --limit 1 --name "Welcome to Vantorel" windowfocus --sync key Return 2>/dev/null
check "launched after the welcome" until_true 20 grep -qF "Toolkit version: Qt" "$T/first.txt"
sleep 2
first_idle=$(tray 6-first-run-idle)
echo "first" > "$cloud/first.txt"
check "the first run tracks an upload" until_true 10 tray_is 7-first-run-uploading != "$first_idle"
"$defaults" read IncludePatterns > "$T/patterns.txt" 2>&1
check "the first-launch patterns are stored" grep -q "com~apple~CloudDocs" "$T/patterns.txt"
kill -TERM "$pid"
wait "$pid"

# A folder of the user's own, outside the default one: chosen with --folder
# after the first run, it gets an include pattern of its own (said once) and
# its uploads are tracked, counted the same by the tray and by a script.
own="$T/Work Files"
mkdir -p "$own"
"$app" --folder "$own" > "$T/own.txt" 2>&1 &
pid=$!
check "launched on a folder of the user's own" wait_for "Toolkit version: Qt" "$T/own.txt"
check "its include pattern is added and said" wait_for "Added the include pattern" "$T/own.txt"
sleep 2
own_idle=$(tray 16-own-folder-idle)
for name in one two three; do echo "$name" > "$own/$name.txt"; done
transfers_are() { [ "$(limited 10 "$app" status --json | jq .transfers)" = "$1" ]; }
check "its three uploads are tracked" until_true 10 transfers_are 3
check "and shown in the tray" tray_is 17-own-folder-uploading != "$own_idle"
for name in one two three; do setfattr -n user.ubiquity.uploaded -v 1 "$own/$name.txt"; done
check "and end once uploaded" limited 20 "$app" wait-idle --timeout 15
kill -TERM "$pid"
wait "$pid"
check "quits cleanly again" test $? -eq 0
report
SESSION
dbus-run-session -- bash "$T/session.sh" "$app" "$defaults" "$shots" "$cloud" "$T" "$(cd "$(dirname "$0")/../support" && pwd)" 2> >(grep -v "fd limit" >&2)
