# reg_add KEY ARGS...: reg add in the prefix through the wine-run in $run,
# its status and output echoed as "set-up: reg add ...", made once more when
# Wine ended it before reg ran: with a status reg never gives (it gives 0
# and 1), or a 1 that Wine's loader explains on a line of its own. A crash
# is never made again, whatever its status: Wine's "wine: Unhandled ..."
# says reg ran. Sourced by prefix.sh (and by setup_calls_test).
reg_add() {
  out=$("$run" reg add "$@" /f 2>&1)
  status=$?
  if ! printf '%s\n' "$out" | grep -q 'wine: Unhandled' &&
    { [ "$status" -gt 1 ] || { [ "$status" -eq 1 ] && printf '%s\n' "$out" | grep -q '^wine: '; }; }; then
    echo "set-up: reg add $*: status $status, output: ${out:-none}; Wine failed it before it ran: retried"
    out=$("$run" reg add "$@" /f 2>&1)
    status=$?
  fi
  echo "set-up: reg add $*: status $status, output: ${out:-none}"
  return "$status"
}
