#!/usr/bin/env bash
# The tray icon on three panels under Xvfb (trayer tinted light grey, mid
# grey and black): the artwork must stand out from each, whatever the
# desktop's colour scheme, and the user's choice must win over the panel.
# Screenshots stay in the build folder (panel-contrast/).
set -uo pipefail
app=$1 defaults=$2 shots=${3:-$PWD/panel-contrast}
for tool in Xvfb trayer import convert xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
. "$(dirname "$0")/../support/checks.sh"
. "$(dirname "$0")/../support/xvfb.sh"
xvfb_session 320x120
mkdir -p "$shots" "$T/cloud"

# The icon's slot: the trayer window at the top right (28 px high), its
# right-most 28 px.
slot() {  # slot NAME: the screenshot of the slot, kept
  local w
  for w in $(xdotool search --class trayer 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    [ "$HEIGHT" -eq 28 ] && break
  done
  import -window root -crop "28x28+$((X + WIDTH - 28))+$Y" +repage "$shots/$1.png"
}
# How far the icon's most distant pixel is from the panel's colour, in grey
# levels from 0 to 1 (the panel's colour: the slot's top-right corner; the
# icon's pixels: the slot's middle 20 px, clear of the panel's edges).
greys() {  # greys NAME: the panel's grey, the icon's darkest and lightest
  local panel
  panel=$(convert "$shots/$1.png" -colorspace Gray -format '%[fx:p{w-1,0}]' info:)
  convert "$shots/$1.png" -gravity center -crop 20x20+0+0 +repage -colorspace Gray \
    -format "$panel %[fx:minima] %[fx:maxima]\n" info:
}
contrast() { greys "$1" | awk '{ up = $3 - $1; down = $1 - $2; print (up > down ? up : down) }'; }
stands_out() { awk -v c="$(contrast "$1")" 'BEGIN { exit !(c >= 0.35) }'; }
glyph_is() {  # glyph_is NAME light|dark: the icon's most distant pixel is lighter or darker than the panel
  greys "$1" | awk -v want="$2" '{ up = $3 - $1; down = $1 - $2; exit !((up > down) == (want == "light")) }'
}

run_on() {  # run_on TINT NAME [COLOURS]: a tray of that colour (publishing COLOURS), Vantorel in it, the slot kept
  trayer --edge top --align right --widthtype request --height 28 --transparent true --alpha 0 \
    --tint "$1" > "$T/trayer-$2.log" 2>&1 &
  local trayer=$!
  sleep 1
  if [ -n "${3:-}" ]; then  # on each of trayer's windows: its tray manager's (unnamed class) is among them
    local w
    for w in $(xwininfo -root -tree | awk '/"trayer"|"panel"/ { print $1 }'); do
      xprop -id "$w" -f _NET_SYSTEM_TRAY_COLORS 32c -set _NET_SYSTEM_TRAY_COLORS "$3"
    done
  fi
  "$app" --folder "$T/cloud" > "$T/app-$2.log" 2>&1 &
  local pid=$!
  # The panel is looked at 1.5 s after the icon shows; the icon follows.
  # (early=1: the slot before that look.)
  if [ "${early:-0}" = 1 ]; then sleep 0.9; else sleep 4; fi
  slot "$2"
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
  kill "$trayer"; wait "$trayer" 2>/dev/null
}

for panel in "0xe8e8e8 light-panel" "0x808080 grey-panel" "0x000000 black-panel"; do
  set -- $panel
  run_on "$1" "$2"
  check "the icon stands out from the $2 (contrast $(contrast "$2"))" stands_out "$2"
  if [ "$2" = light-panel ]; then
    # The next start there shows the dark artwork from its first image on,
    # before the panel is looked at: what the last look chose.
    early=1 run_on "$1" light-panel-early
    check "the next start's first image stands out from the light panel (no light flash)" \
      stands_out light-panel-early
    check "and is the dark artwork" glyph_is light-panel-early dark
  fi
done
check "dark artwork on the light panel" glyph_is light-panel dark
check "light artwork on the mid-grey panel (the higher contrast)" glyph_is grey-panel light
check "light artwork on the black panel" glyph_is black-panel light

# The user's choice wins over the panel: the other artwork on the light and
# on the black panel.
differs() { [ "$(convert "$shots/$1.png" rgb:- | md5sum)" != "$(convert "$shots/$2.png" rgb:- | md5sum)" ]; }
"$defaults" write StatusItemAppearance light
run_on 0xe8e8e8 light-panel-chosen-light
check "the light artwork chosen for the light panel" differs light-panel light-panel-chosen-light
"$defaults" write StatusItemAppearance dark
run_on 0x000000 black-panel-chosen-dark
check "the dark artwork chosen for the black panel" differs black-panel black-panel-chosen-dark

# A tray that publishes its icons' colour is believed over the panel's
# colour: white (16-bit channels: foreground, error, warning, success) on
# this light panel gives the artwork the user gets by choosing the light one.
"$defaults" delete StatusItemAppearance
run_on 0xe8e8e8 light-panel-white-published "65535,65535,65535,65535,0,0,65535,65535,0,0,65535,0"
check "the published white wins over the light panel" \
  test "$(convert "$shots/light-panel-white-published.png" rgb:- | md5sum)" = \
       "$(convert "$shots/light-panel-chosen-light.png" rgb:- | md5sum)"
[ "$failed" -eq 0 ] || for log in "$T"/app-*.log; do echo "--- $log:"; tail -5 "$log"; done
report
