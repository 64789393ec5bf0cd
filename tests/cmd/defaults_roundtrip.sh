#!/usr/bin/env bash
# Drives the real vantorel-defaults executable with a private configuration
# folder: every type goes into the file and comes back out.
set -euo pipefail
tool=$1
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
plist=$XDG_CONFIG_HOME/vantorel/com.quellmark.vantorel.plist
failures=0

check() {  # check KEY EXPECTED
  local got
  got=$("$tool" read "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: read $1 gave '$got', expected '$2'"
    failures=$((failures + 1))
  fi
}

"$tool" write Name "Vantorel demo"
"$tool" write Flag -bool NO
"$tool" write Count -int 42
"$tool" write Delay -float 1.5
"$tool" write When -date "2026-01-02 03:04:05 +0000"
"$tool" write List -array a b
"$tool" write Map -dict k v

grep -q '<integer>42</integer>' "$plist" || { echo "FAIL: the file does not hold the integer"; failures=$((failures + 1)); }
check Name "Vantorel demo"
check Flag 0
check Count 42
check Delay 1.5
check When "2026-01-02 03:04:05 +0000"
check List "$(printf '(\n    a,\n    b\n)')"
check Map "$(printf '{\n    k = v;\n}')"

if "$tool" read Missing 2>/dev/null; then echo "FAIL: a missing key read successfully"; failures=$((failures + 1)); fi

# Reading a damaged file says so and changes nothing; a write keeps it aside.
echo "garbage" > "$plist"
if "$tool" read 2>/dev/null || "$tool" read Name 2>/dev/null; then
  echo "FAIL: a damaged file read successfully"; failures=$((failures + 1))
fi
[ "$(cat "$plist")" = garbage ] && [ ! -e "$plist.corrupt" ] || { echo "FAIL: a read changed the damaged file"; failures=$((failures + 1)); }
"$tool" write After -int 1 2>/dev/null
[ -f "$plist.corrupt" ] || { echo "FAIL: damaged file not kept"; failures=$((failures + 1)); }
check After 1

# Deleting the whole domain leaves an empty one.
"$tool" delete
if "$tool" read After 2>/dev/null; then echo "FAIL: a key outlived the domain's removal"; failures=$((failures + 1)); fi
[ "$("$tool" read)" = "$(printf '{\n}')" ] || { echo "FAIL: the emptied domain does not read as empty"; failures=$((failures + 1)); }

passed=$((13 - failures))
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
