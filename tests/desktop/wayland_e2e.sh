#!/usr/bin/env bash
# The real vantorel on Wayland: a headless sway with waybar's tray as the
# StatusNotifierItem host and dunst for notifications, all on a private
# session bus. The icon must be registered, contrast with the bar (dark and
# light), change while a file uploads; the host's clicks must open the
# popover near the pointer inside the screen, Escape and a second click
# close it, the menu must open, the tooltip must carry the status, and a
# finished batch must reach the daemon. Screenshots stay in the build folder
# (desktop-e2e/wayland-*.png), at 1x and 2x.
#
# sway will not run as root: as root, the session runs as the unprivileged
# user scripts/setup makes (vantorel-test).
set -uo pipefail
app=$1 defaults=$2 shots=${3:-$PWD/desktop-e2e}
for tool in sway waybar grim swaymsg busctl dunst dunstctl dbus-run-session convert setfattr wtype jq; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$shots"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
cp "$here/../support/checks.sh" "$here/../support/sway.sh" "$here/../support/lsan-qt-wayland.supp" "$T/"
# Under the leak check: whole stacks, so that what Qt keeps on Wayland is
# told apart by its function and let be.
# (Read by the sanitizer builds only, whoever runs the test.)
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_malloc=0
export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$T/lsan-qt-wayland.supp:print_suppressions=0
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  id vantorel-test >/dev/null 2>&1 || { echo "skipped: no vantorel-test user (scripts/setup makes it)"; exit 77; }
  chown vantorel-test: "$T"
  run_as=(runuser -u vantorel-test --)
  # A build folder that user cannot reach (under /root): its programs are copied.
  if ! "${run_as[@]}" test -x "$app"; then
    mkdir -p "$T/bin"
    cp "$app" "$(dirname "$app")/vantorel-tray" "$defaults" "$T/bin/"
    chown -R vantorel-test: "$T/bin"
    app=$T/bin/$(basename "$app") defaults=$T/bin/$(basename "$defaults")
  fi
fi

cat > "$T/session.sh" <<'SESSION'
set -uo pipefail
app=$1 defaults=$2 T=$3 scale=$4 full=$6 qt_scale=$7
. "$5/checks.sh"
. "$5/sway.sh"
if [ "$qt_scale" = 1 ]; then
  sway_session "$T" "$scale"
else  # Qt's own scale on a large output at 1x: the popover is as large as at 2x
  sway_session "$T" "$scale" 1600 1000
  export QT_SCALE_FACTOR=$qt_scale
fi
cloud="$HOME/Library/Mobile Documents/com~apple~CloudDocs"
mkdir -p "$cloud"
shots=$T/shots
mkdir -p "$shots"
dunst > "$T/dunst.log" 2>&1 &
sleep 2
shot() { grim "$shots/$1.png"; }
shot wayland-0-empty-bar

"$app" --folder "$cloud" > "$T/app.log" 2>&1 &
pid=$!
check "launched with the Qt face on Wayland" wait_for "Toolkit version: Qt" "$T/app.log"
check "the item is registered with the watcher" until_true 10 tray_item_registered
service=$(tray_item_service)
sleep 2
shot wayland-1-dark-bar
# Where the icon is: what changed in the bar since it was empty (scaled).
icon=$(convert "$shots/wayland-0-empty-bar.png" "$shots/wayland-1-dark-bar.png" -compose difference -composite \
         -crop "$((W * scale))x$((bar * scale))+0+0" +repage -threshold 10% -format '%@' info:)
ix=$(cut -d+ -f2 <<<"$icon") iy=$(cut -d+ -f3 <<<"$icon") iw=$(cut -dx -f1 <<<"$icon") ih=$(cut -dx -f2 <<<"$icon" | cut -d+ -f1)
check "the icon is drawn in the bar" test "$iw" -gt 4 -a "$ih" -gt 4
box="${iw}x${ih}+${ix}+${iy}"
# In layout coordinates: what the host would report with a click on it.
cx=$(((ix + iw / 2) / scale)) cy=$(((iy + ih / 2) / scale))
glyph() {  # glyph SHOT maxima|minima: the icon's brightest or darkest grey, 0-100
  convert "$shots/$1.png" -crop "$box" +repage -colorspace Gray -format "%[fx:round(100*$2)]" info:
}
# Grey 12 for the dark bar, 94 for the light one: 40 points apart at least
# (about 3:1, what a symbol needs to be seen).
check "a light glyph on the dark bar" test "$(glyph wayland-1-dark-bar maxima)" -ge 52
icon_hash() { grim "$shots/$1.png" && convert "$shots/$1.png" -crop "$box" +repage rgb:- | md5sum | cut -d' ' -f1; }
icon_is() { [ "$(icon_hash "$1")" "$2" "$3" ]; }

tooltip() { busctl --user get-property "$service" /StatusNotifierItem org.kde.StatusNotifierItem ToolTip 2>/dev/null; }
tooltip_says() { tooltip | grep -qF "$1"; }
if [ "$full" = yes ]; then
  idle=$(icon_hash wayland-1-dark-bar)
  "$defaults" write ElapsedTimeNotificationLimit -int 0
  "$defaults" write DownloadBatchDelay -int 1
  echo "draft" > "$cloud/report.txt"
  check "the icon changes while uploading" until_true 10 icon_is wayland-2-uploading != "$idle"
  check "the tooltip carries the status" until_true 5 tooltip_says "1 file is being transferred"
  check "and whether it is safe to shut down (no system bus here: nothing held)" \
    until_true 5 tooltip_says "1 file is still being uploaded."
  sleep 1  # a batch that took a moment: it is announced
  setfattr -n user.ubiquity.uploaded -v 1 "$cloud/report.txt"
  check "the icon returns once uploaded" until_true 10 icon_is wayland-3-uploaded = "$idle"
  check "and the tooltip says it is safe" until_true 5 tooltip_says "All files are uploaded."
  shown() { [ "$(dunstctl count displayed 2>/dev/null || echo 0)" -gt 0 ]; }
  check "a notification is shown" until_true 10 shown
  shot wayland-4-notification
  dunstctl close-all
  sleep 0.5
  check "the notification reached the daemon" grep -q "1 transfer complete." <<<"$(dunstctl history 2>/dev/null)"
fi

# The host's calls: Activate(x, y) with the pointer on the icon, as waybar
# makes on a left click.
activate() { tray_activate "$service" $cx $cy; }
popover() { sway_window $pid Vantorel; }
open_now() { [ -n "$(popover)" ]; }
closed_now() { [ -z "$(popover)" ]; }
swaymsg seat - cursor set $cx $cy >/dev/null
activate
check "a click on the icon opens the popover" until_true 5 open_now
sleep 0.5
shot wayland-5-popover
rect=$(popover)
px=$(jq .x <<<"$rect") py=$(jq .y <<<"$rect") pw=$(jq .width <<<"$rect") ph=$(jq .height <<<"$rect")
echo "popover at ${pw}x${ph}+$px+$py, icon at $cx,$cy (layout)"
check "the popover floats inside the screen" test "$px" -ge 0 -a "$py" -ge 0 -a $((px + pw)) -le "$W" -a $((py + ph)) -le "$H"
check "under the bar" test "$py" -ge "$bar" -a "$py" -le $((bar + 16))
check "below the icon" test "$px" -le "$cx" -a $((px + pw)) -ge "$cx"
# The keys go where sway's focus is: a loaded machine may give it a moment.
has_focus() { swaymsg -t get_tree | jq -e "[.. | select(.pid? == $pid and .name == \"Vantorel\" and .focused == true)] | length > 0" >/dev/null; }
check "the popover has the keyboard focus" until_true 5 has_focus
wtype -k Escape
check "Escape closes it" until_true 5 closed_now
sleep 0.5
activate
check "another click opens it again" until_true 5 open_now
sleep 0.3
activate
check "and a click on the icon closes it" until_true 5 closed_now

# The menu the host shows on a right click: exported over D-Bus.
menu=$(busctl --user get-property "$service" /StatusNotifierItem org.kde.StatusNotifierItem Menu | cut -d'"' -f2)
labels=$(busctl --user --json=short call "$service" "$menu" com.canonical.dbusmenu GetLayout iias 0 2 0 |
  jq -r '.data[1][2][].data[1].label.data // empty')
for item in "Open" "Preferences…" "About Vantorel" "Quit Vantorel"; do
  check "the menu offers $item" grep -qxF "$item" <<<"$labels"
done
# Chosen from the host's menu while the popover is open: the window opens
# and takes the focus, which closes the popover.
sleep 0.5
activate
check "open once more" until_true 5 open_now
prefs_id=$(busctl --user --json=short call "$service" "$menu" com.canonical.dbusmenu GetLayout iias 0 2 0 |
  jq '.data[1][2][] | select(.data[1].label.data == "Preferences…") | .data[0]')
busctl --user call "$service" "$menu" com.canonical.dbusmenu Event isvu "$prefs_id" clicked s "" 0
window_up() { swaymsg -t get_tree | jq -e "[.. | select(.pid? == $pid and (.name // \"\" | test(\"$1\")))] | length > 0" >/dev/null; }
check "Preferences opens from the host's menu" until_true 5 window_up "General|Preferences"
check "and the popover closes as it loses the focus" until_true 5 closed_now
sleep 1
shot wayland-6-preferences
# On an output 500 high, the whole window stays under the bar (its pane
# scrolls where it must).
prefs_fit() {
  swaymsg -t get_tree | jq -e "[.. | select(.pid? == $pid and (.name // \"\" | test(\"Preferences\")))][0].rect |
    .y >= $bar and .y + .height <= $H" > /dev/null && [ "$(title_top)" -ge "$bar" ]
}
title_top() {  # the top of the window's title bar: sway's rect is the window's, its title above it
  swaymsg -t get_tree | jq "[.. | select(.pid? == $pid and (.name // \"\" | test(\"Preferences\")))][0] |
    .rect.y - .deco_rect.height"
}
check "Preferences fits between the bar and the output's bottom" prefs_fit

if [ "$full" = yes ]; then
  # A light bar: the user picks the dark glyph.
  wtype -k Escape
  bar_colour '#f0f0f0' '#202020'
  pkill -USR2 -x waybar
  "$defaults" write StatusItemAppearance dark
  sleep 2
  shot wayland-7-light-bar
  check "a dark glyph on the light bar once chosen" test "$(glyph wayland-7-light-bar minima)" -le 54
fi

kill -TERM "$pid"
wait "$pid"
check "quits cleanly" test $? -eq 0
[ "$failed" -eq 0 ] || { echo "--- the end of its output:"; tail -40 "$T/app.log"; }
report
SESSION

session() {  # session SCALE FULL [QT-SCALE]
  "${run_as[@]}" dbus-run-session -- bash "$T/session.sh" "$app" "$defaults" "$T/$1x${3:+-qt$3}" "$1" "$T" "$2" "${3:-1}" \
    2> >(grep -Ev "fd limit|dbus-daemon|SpiRegistry" >&2)
}
echo "--- at 1x"
session 1 yes
status=$?
echo "--- at 2x"
session 2 no || status=1
echo "--- at 1x with QT_SCALE_FACTOR=2"
session 1 no 2 || status=1
for run in 1x 2x 1x-qt2; do
  for f in "$T/$run"/shots/*.png; do cp "$f" "$shots/$(basename "$f" .png)-$run.png" 2>/dev/null; done
done
exit $status
