#!/usr/bin/env bash
# The machine's shutdown held while a file waits to be uploaded, against a
# mock logind (python3-dbusmock's template) on a private system bus and a
# mock GNOME session manager on a private session bus: the lock and the
# log-out inhibit are held with their reason while the file waits, and let
# go within a second or two of its upload; without a system bus, one line
# and nothing held. Skips (77) without dbus-daemon or python3-dbusmock.
set -uo pipefail
app=$1
defaults=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v dbus-daemon > /dev/null || { echo "SKIP: dbus-daemon is not installed"; exit 77; }
/usr/bin/python3 -c "import dbusmock" 2> /dev/null || { echo "SKIP: python3-dbusmock is not installed (scripts/setup installs it)"; exit 77; }

T=$(mktemp -d)
. "$here/../support/checks.sh"
vantorel= bus= mock= session= gsm=
cleanup() {
  [ -n "$vantorel" ] && kill "$vantorel" 2> /dev/null
  [ -n "$mock" ] && kill "$mock" 2> /dev/null
  [ -n "$bus" ] && kill "$bus" 2> /dev/null
  [ -n "$gsm" ] && kill "$gsm" 2> /dev/null
  [ -n "$session" ] && kill "$session" 2> /dev/null
  wait 2> /dev/null
  rm -rf "$T"
}
trap cleanup EXIT
export HOME=$T XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/data XDG_RUNTIME_DIR=$T/run XDG_CACHE_HOME=$T/cache
mkdir -m 700 "$T/run"
cloud=$T/cloud
mkdir -p "$cloud"
show_logs() { echo "--- vantorel:"; tail -20 "$T/vantorel.txt" 2> /dev/null; echo "--- mock:"; tail -10 "$T/mock.txt" 2> /dev/null; }

# Without a system bus: said once, nothing held, nothing else changes.
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$T/no-bus "$app" --headless --folder "$cloud" > "$T/nobus.txt" 2>&1 &
vantorel=$!
check "no system bus is said once" wait_for "Shutdown is not held while files upload: no system bus" "$T/nobus.txt" 15
"$app" quit > /dev/null
wait "$vantorel"
vantorel=
check "(once)" test "$(grep -c "Shutdown is not held" "$T/nobus.txt")" -eq 1

dbus-daemon --config-file="$here/system-bus.conf" --print-address=3 --nofork 3> "$T/address" &
bus=$!
until_true 10 test -s "$T/address"
export DBUS_SYSTEM_BUS_ADDRESS=$(head -1 "$T/address")
/usr/bin/python3 -m dbusmock --system --template logind > "$T/mock.txt" 2>&1 &
mock=$!
inhibitors() {
  /usr/bin/python3 - 2> /dev/null <<'PY'
import dbus
bus = dbus.SystemBus()
manager = dbus.Interface(bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1"),
                         "org.freedesktop.login1.Manager")
for what, who, why, mode, uid, pid in manager.ListInhibitors():
    print(f"{what}\t{who}\t{why}\t{mode}")
PY
}
need "the mock logind answers" until_true 10 inhibitors

# GNOME's session manager: Inhibit hands out cookies 1, 2, …; its calls are
# read back from the mock.
dbus-daemon --session --print-address=3 --nofork 3> "$T/session-address" &
session=$!
until_true 10 test -s "$T/session-address"
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$T/session-address")
/usr/bin/python3 -m dbusmock org.gnome.SessionManager /org/gnome/SessionManager org.gnome.SessionManager \
  > "$T/gsm.txt" 2>&1 &
gsm=$!
gsm() {
  /usr/bin/python3 - "$@" 2> /dev/null <<'PY'
import sys, dbus
mock = dbus.Interface(dbus.SessionBus().get_object("org.gnome.SessionManager", "/org/gnome/SessionManager"),
                      "org.freedesktop.DBus.Mock")
if sys.argv[1] == "methods":
    mock.AddMethod("", "Inhibit", "susu", "u", "self.cookie = getattr(self, 'cookie', 0) + 1; ret = self.cookie")
    mock.AddMethod("", "Uninhibit", "u", "", "")
else:  # the calls, a line each: Inhibit APP XID FLAGS REASON, or Uninhibit COOKIE
    for _, method, args in mock.GetCalls():
        if method == "Inhibit":
            print(f"Inhibit {args[0]} {args[1]} {args[3]} {args[2]}")
        elif method == "Uninhibit":
            print(f"Uninhibit {args[0]}")
PY
}
need "the mock session manager answers" until_true 10 gsm methods

"$app" --headless --folder "$cloud" > "$T/vantorel.txt" 2>&1 &
vantorel=$!
need "vantorel runs" until_true 15 "$app" status
check "nothing is held while nothing uploads" test -z "$(inhibitors | grep Vantorel)"
check "status says it is safe to shut down" sh -c '"$1" status --json | jq -e ".safeToShutDown == true" > /dev/null' sh "$app"
echo "draft" > "$cloud/report.txt"  # no upload attribute: it waits
held() { inhibitors | grep -qxF "shutdown	Vantorel	$1	block"; }
check "while it waits, shutdown is held with the reason" until_true 10 held "1 file is still being uploaded: report.txt"
logout_held() { gsm calls | grep -qxF "Inhibit vantorel 0 1 $1"; }
check "and logging out, in GNOME, with the same reason" until_true 5 logout_held "1 file is still being uploaded: report.txt"
check "and sleep waits a moment" until_true 5 sh -c "$(declare -f inhibitors); inhibitors | grep -q '^sleep	Vantorel	.*	delay$'"
check "status says it is not safe" sh -c '"$1" status --json | jq -e ".safeToShutDown == false" > /dev/null' sh "$app"
echo "more" > "$cloud/notes.txt"
check "a second one: the reason says both" until_true 10 held "2 files are still being uploaded: notes.txt, report.txt"
renewed() { logout_held "2 files are still being uploaded: notes.txt, report.txt" && gsm calls | grep -qx "Uninhibit 1"; }
check "(in GNOME too, the first inhibit handed back after)" until_true 5 renewed
"$defaults" write HoldShutdownWhileUploading -bool false
unheld() { ! inhibitors | grep -q "^shutdown	Vantorel"; }
check "switched off in the preferences, nothing is held" until_true 5 unheld
"$defaults" write HoldShutdownWhileUploading -bool true
check "and on again, held again" until_true 5 held "2 files are still being uploaded: notes.txt, report.txt"

# Shut down anyway (a forced shutdown): said, logged, the history saved.
/usr/bin/python3 - <<'PY'
import dbus
login1 = dbus.SystemBus().get_object("org.freedesktop.login1", "/org/freedesktop/login1")
login1.EmitSignal("org.freedesktop.login1.Manager", "PrepareForShutdown", "b", [True],
                  dbus_interface="org.freedesktop.DBus.Mock")
PY
line="Shutting down with 2 files not uploaded: notes.txt, report.txt."
check "the shutdown is said on the terminal" wait_for "$line" "$T/vantorel.txt" 10
check "and in the log" until_true 5 grep -qF "$line" "$T/data/Vantorel/vantorel_log.txt"
check "and the history is saved" test -f "$T/data/Vantorel/recent_transfers.plist"

"$app" wait-idle --uploads --timeout 1 > /dev/null 2>&1
check "wait-idle --uploads waits for them" test $? -ne 0
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/report.txt"
check "one uploaded: the reason follows" until_true 10 held "1 file is still being uploaded: notes.txt"
"$app" quit > /dev/null
wait "$vantorel"
check "vantorel quits cleanly" test $? -eq 0
check "and lets go of its locks" until_true 5 sh -c "$(declare -f inhibitors); ! inhibitors | grep -q Vantorel"

# The next launch asks again about what the shutdown left.
"$app" --headless --folder "$cloud" > "$T/vantorel2.txt" 2>&1 &
vantorel=$!
check "what is still not uploaded is said once" \
  wait_for "Still not uploaded since the last shutdown: notes.txt." "$T/vantorel2.txt" 30
check "(the one uploaded since is not)" test "$(grep -c "report.txt" "$T/vantorel2.txt")" -eq 0
( "$app" wait-idle --uploads --timeout 20 > "$T/waited.txt" 2>&1; echo $? >> "$T/waited.txt" ) &
waiter=$!
sleep 0.5
setfattr -n user.ubiquity.uploaded -v 1 "$cloud/notes.txt"
released() { [ -z "$(inhibitors | grep Vantorel)" ]; }
check "uploaded, the locks go" until_true 5 released
every_cookie_back() { [ "$(gsm calls | grep -c '^Inhibit')" -eq "$(gsm calls | grep -c '^Uninhibit')" ]; }
check "and every log-out inhibit is handed back" until_true 5 every_cookie_back
wait "$waiter"
check "and wait-idle --uploads returns 0" test "$(tail -1 "$T/waited.txt")" = 0
"$app" quit > /dev/null
wait "$vantorel"
vantorel=

report || { show_logs; exit 1; }
