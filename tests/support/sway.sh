# A headless Wayland desktop for the tests and benchmarks (sourced, inside a
# private session bus, as a user that is not root): sway with one output,
# waybar on top with its StatusNotifierItem tray, and helpers to find and
# call the tray item as the bar does.
#   sway_session FOLDER SCALE [WIDTH HEIGHT]: starts them, with FOLDER as the
#   home and runtime, on an output WIDTH×HEIGHT layout pixels (800×500) at
#   SCALE; sets W H bar (layout pixels), exports WAYLAND_DISPLAY, SWAYSOCK
#   and QT_QPA_PLATFORM=wayland. Stopped when the shell exits.

sway_session() {
  local folder=$1 scale=$2
  export HOME=$folder/home XDG_CONFIG_HOME=$folder/home/.config XDG_DATA_HOME=$folder/home/.local/share
  export XDG_RUNTIME_DIR=$folder/run
  export WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/sway" "$XDG_CONFIG_HOME/waybar" && chmod 700 "$XDG_RUNTIME_DIR"
  W=${3:-800} H=${4:-500} bar=34  # waybar makes its bar 34 high with its fonts
  cat > "$XDG_CONFIG_HOME/sway/config" <<CONFIG
output HEADLESS-1 resolution $((W * scale))x$((H * scale)) scale $scale bg #336699 solid_color
default_border none
CONFIG
  cat > "$XDG_CONFIG_HOME/waybar/config" <<CONFIG
{ "layer": "top", "position": "top", "height": $bar,
  "modules-left": ["sway/workspaces"], "modules-right": ["tray"], "tray": { "icon-size": 20, "spacing": 6 } }
CONFIG
  bar_colour '#202020' '#ffffff'
  sway > "$folder/sway.log" 2>&1 &
  local _
  for _ in $(seq 50); do ls "$XDG_RUNTIME_DIR"/sway-ipc.* >/dev/null 2>&1 && [ -e "$XDG_RUNTIME_DIR/wayland-1" ] && break; sleep 0.1; done
  export WAYLAND_DISPLAY=wayland-1 SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* | head -1) QT_QPA_PLATFORM=wayland
  # Services the bus starts (a notification daemon) find this display too.
  dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_RUNTIME_DIR >/dev/null 2>&1 || true
  waybar > "$folder/waybar.log" 2>&1 &
  trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
}
bar_colour() {  # bar_colour CSS-COLOUR TEXT-COLOUR: the bar in that colour (then: pkill -USR2 waybar)
  printf 'window#waybar { background: %s; color: %s; }\n' "$1" "$2" > "$XDG_CONFIG_HOME/waybar/style.css"
}
tray_items() {  # the items registered with the bar's watcher
  busctl --user get-property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
    org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null
}
tray_item_registered() { tray_items | grep -q StatusNotifierItem; }
tray_item_service() { tray_items | grep -o '":[0-9.]*/' | tr -d '"/' | head -1; }
tray_activate() {  # tray_activate SERVICE X Y: a left click on the item, as the bar reports it
  busctl --user call "$1" /StatusNotifierItem org.kde.StatusNotifierItem Activate ii "$2" "$3"
}
sway_window() {  # sway_window PID TITLE: the rectangle of that window as JSON, or nothing
  swaymsg -t get_tree | jq -c "[.. | select(.pid? == $1 and .name == \"$2\")] | first | .rect // empty"
}
