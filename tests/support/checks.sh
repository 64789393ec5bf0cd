# Helpers shared by the end-to-end scripts (sourced): counted checks and
# polling with a deadline.
passed=0 failed=0

check() {  # check DESCRIPTION COMMAND...: counts a pass, or says what failed
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what"; failed=$((failed + 1)); fi
}
until_true() {  # until_true SECONDS COMMAND...: polls until the command succeeds
  local deadline=$((SECONDS + $1)); shift
  while [ $SECONDS -lt $deadline ]; do "$@" && return 0; sleep 0.2; done
  return 1
}
count() {  # count TEXT FILE: the lines of FILE holding TEXT (0 without FILE)
  grep -acF -- "$1" "$2" 2>/dev/null || true
}
wait_for() {  # wait_for TEXT FILE [SECONDS]: until FILE holds TEXT; shows FILE's end if never
  local deadline=$((SECONDS + ${3:-20}))
  while [ $SECONDS -lt $deadline ]; do
    grep -aqF -- "$1" "$2" 2>/dev/null && return 0
    sleep 0.2
  done
  echo "--- waited in vain for '$1' in $2:"; tail -20 "$2" 2>/dev/null; return 1
}
limited() {  # limited SECONDS COMMAND...: COMMAND under a limit of its own; 124 when it hung
  local seconds=$1; shift
  timeout -k 2 "$seconds" "$@"
}
report() {  # report: the totals; true when nothing failed
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
need() {  # need DESCRIPTION COMMAND...: a check the rest depends on; ends the script (with show_logs, if defined) when it fails
  local before=$failed
  check "$@"
  [ "$failed" -eq "$before" ] && return 0
  report
  declare -F show_logs > /dev/null && show_logs
  exit 1
}
