# Two real Syncthing instances that share one folder over loopback, for the
# tests and the benchmark. Source it; needs curl and jq.
#
#   syncthing_pair DIR      makes and starts A and B under DIR (homes DIR/a,
#                           DIR/b; folders DIR/a-folder, DIR/b-folder), waits
#                           until they are connected; sets ST_A_URL, ST_A_KEY,
#                           ST_B_URL, ST_B_KEY, ST_A_ID, ST_B_ID, ST_FOLDER
#   st_api A|B METHOD PATH [JSON]   one REST call, its body on stdout
#   st_start A|B / st_stop A|B      the instance's process
#   syncthing_pair_stop     stops both
#
# Nothing leaves the machine: GUI and sync listeners on 127.0.0.1, no
# discovery, relays, NAT traversal, usage reports or upgrades. The link is
# limited (ST_RATE_KBPS, default 4000) so that a large file takes seconds.

ST_FOLDER=vantorel-test

st_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

st_var() { local name="ST_${1}_$2"; echo "${!name}"; }

st_api() {
  local who=$1 method=$2 path=$3 body=${4:-}
  local url key
  url=$(st_var "$who" URL)
  key=$(st_var "$who" KEY)
  if [ -n "$body" ]; then
    curl -sf -m 10 -X "$method" -H "X-API-Key: $key" -H 'Content-Type: application/json' -d "$body" "$url$path"
  else
    curl -sf -m 10 -X "$method" -H "X-API-Key: $key" "$url$path"
  fi
}

st_start() {
  local who=$1 home
  home=$(st_var "$who" HOME)
  syncthing serve --home="$home" --no-browser --no-restart --no-upgrade --logfile="$home/log.txt" \
    > "$home/stdout.txt" 2>&1 &
  eval "ST_${who}_PID=$!"
  local i
  for i in $(seq 1 100); do
    st_api "$who" GET /rest/system/ping >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "syncthing $who did not start:" >&2
  tail -5 "$home/stdout.txt" >&2
  return 1
}

st_stop() {
  local pid
  pid=$(st_var "$1" PID)
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  eval "ST_${1}_PID="
}

syncthing_pair_stop() {
  st_stop A
  st_stop B
}

st_make() {
  local who=$1 dir=$2 lower
  lower=$(tr 'A-Z' 'a-z' <<<"$who")
  local home="$dir/$lower"
  syncthing generate --home="$home" --no-default-folder > "$home.generate.txt" 2>&1 || return 1
  local gui sync
  gui=$(st_free_port)
  sync=$(st_free_port)
  # The GUI's address before the first start; everything else through the API.
  sed -i "s|<address>127.0.0.1:8384</address>|<address>127.0.0.1:$gui</address>|" "$home/config.xml"
  eval "ST_${who}_HOME=$home"
  eval "ST_${who}_URL=http://127.0.0.1:$gui"
  eval "ST_${who}_KEY=$(sed -n 's|.*<apikey>\(.*\)</apikey>.*|\1|p' "$home/config.xml")"
  eval "ST_${who}_SYNC=$sync"
  mkdir -p "$dir/$lower-folder"
  st_start "$who" || return 1
  eval "ST_${who}_ID=$(st_api "$who" GET /rest/system/status | jq -r .myID)"
  st_api "$who" PATCH /rest/config/options "{\"listenAddresses\":[\"tcp://127.0.0.1:$sync\"],
    \"globalAnnounceEnabled\":false,\"localAnnounceEnabled\":false,\"relaysEnabled\":false,
    \"natEnabled\":false,\"urAccepted\":-1,\"autoUpgradeIntervalH\":0,\"crashReportingEnabled\":false,
    \"startBrowser\":false,\"limitBandwidthInLan\":true,\"maxSendKbps\":${ST_RATE_KBPS:-4000},
    \"progressUpdateIntervalS\":1,\"reconnectionIntervalS\":5}" > /dev/null
}

syncthing_pair() {
  local dir=$1
  command -v syncthing >/dev/null || return 77
  st_make A "$dir" || return 1
  st_make B "$dir" || return 1
  local who other
  for who in A B; do
    other=$([ "$who" = A ] && echo B || echo A)
    st_api "$who" POST /rest/config/devices "{\"deviceID\":\"$(st_var "$other" ID)\",\"name\":\"$other\",
      \"addresses\":[\"tcp://127.0.0.1:$(st_var "$other" SYNC)\"]}" > /dev/null
    st_api "$who" POST /rest/config/folders "{\"id\":\"$ST_FOLDER\",\"label\":\"Vantorel test\",
      \"path\":\"$dir/$(tr 'A-Z' 'a-z' <<<"$who")-folder\",\"fsWatcherEnabled\":true,\"fsWatcherDelayS\":1,
      \"rescanIntervalS\":3600,\"devices\":[{\"deviceID\":\"$(st_var "$who" ID)\"},{\"deviceID\":\"$(st_var "$other" ID)\"}]}" > /dev/null
  done
  # The listen address takes effect on a restart.
  for who in A B; do st_stop "$who"; st_start "$who" || return 1; done
  local i
  for i in $(seq 1 150); do
    [ "$(st_api A GET /rest/system/connections | jq -r ".connections[\"$ST_B_ID\"].connected")" = true ] && return 0
    sleep 0.2
  done
  echo "the two Syncthing instances did not connect" >&2
  return 1
}
