# A private X display for a test (sourced): a home of its own in a new
# temporary folder, and Xvfb on a free display number.
#   xvfb_session SIZE: sets T (the folder: the home, its config, data and
#   runtime folders inside) and DISPLAY; Xvfb (xvfb holds its pid) and the
#   folder go when the shell exits, with any pids listed in `pids`.
pids=()
xvfb_session() {
  T=$(mktemp -d)
  mkdir -p "$T/run" && chmod 700 "$T/run"
  export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run
  exec 3>"$T/display"
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp > "$T/xvfb.log" 2>&1 &
  xvfb=$!
  trap 'kill "${pids[@]}" $xvfb 2>/dev/null; wait 2>/dev/null; rm -rf "$T"' EXIT
  local _
  for _ in $(seq 50); do [ -s "$T/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$T/display")
}
