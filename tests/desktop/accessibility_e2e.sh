#!/usr/bin/env bash
# Vantorel read through AT-SPI, as a screen reader reads it, on a virtual
# display with a tray (Xvfb, trayer) and the accessibility bus on a private
# session bus: tests/desktop/accessibility_walk.py walks the popover, its
# menu, Preferences and About, driving them with keys only; then the
# welcome of a first launch.
set -uo pipefail
app=$1
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb trayer dbus-run-session xdotool /usr/bin/python3 /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || [ -x "$tool" ] || { echo "skipped: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }
. "$here/../support/xvfb.sh"
xvfb_session 800x600
cloud="$T/Library/Mobile Documents/com~apple~CloudDocs"
mkdir -p "$cloud"
# Qt speaks to the accessibility bus only when asked (a screen reader
# running asks; here nobody does).
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

cat > "$T/session.sh" <<'SESSION'
set -uo pipefail
app=$1 cloud=$2 T=$3 here=$4
. "$here/../support/checks.sh"
trayer --edge top --align right --widthtype request --height 28 > "$T/trayer.log" 2>&1 &
sleep 1
"$app" --folder "$cloud" > "$T/app.log" 2>&1 &
pid=$!
check "launched" wait_for "Toolkit version: Qt" "$T/app.log"
echo "hello" > "$cloud/report.txt"
sleep 2
check "the popover, its menu, Preferences and About read and worked by keys" \
  limited 120 /usr/bin/python3 "$here/accessibility_walk.py" "$app" "$cloud"
"$app" quit > /dev/null 2>&1
wait "$pid"

rm -rf "$T/config" "$T/data"
"$app" > "$T/first.log" 2>&1 &
pid=$!
check "the welcome read and left with Return" limited 60 /usr/bin/python3 "$here/accessibility_walk.py" --welcome
check "launched after the welcome" wait_for "Toolkit version: Qt" "$T/first.log"
"$app" quit > /dev/null 2>&1
wait "$pid"
kill $(jobs -p) 2>/dev/null
report
SESSION
dbus-run-session -- bash "$T/session.sh" "$app" "$cloud" "$T" "$here" 2> >(grep -Ev "fd limit|dbus-daemon|SpiRegistry|X11 display|get_x11_output|Cannot connect to DBus|X connection to" >&2)
