#!/bin/sh
# Runs a fleet example that takes its scales from the environment (the README's C# example) as
# its reader would, beside the scales of vudaduv_with_scale: twice, without arguments, so that it
# syncs VUDADUV_TEST_FLEET and VUDADUV_TEST_SCALE_DOWN. Each run must name every address and end
# with status 1 for the scale that is off; the first syncs the three, the second finds them in
# step.
# Usage: run_fleet_sync_example.sh PROGRAM [ARG...]
set -u
failures=0

fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}

# Runs the program; its output and exit status into output and status.
run() {
  status=0
  output=$("$@" 2>&1) || status=$?
  printf '%s\n' "$output"
}

check() {
  [ "$status" -eq 1 ] || fail "run $1 ended with status $status, not 1"
  for address in $VUDADUV_TEST_FLEET; do
    printf '%s\n' "$output" | grep -Fxq "$address: $2" || fail "run $1 has no line '$address: $2'"
  done
  printf '%s\n' "$output" | grep -Fq "$VUDADUV_TEST_SCALE_DOWN: failed, 0 confirmed, 0 pending; " ||
    fail "run $1 does not say that $VUDADUV_TEST_SCALE_DOWN failed, and why"
}

run "$@"
check 1 "synced, 3 confirmed, 0 pending"
run "$@"
check 2 "in-step, 0 confirmed, 0 pending"
exit $((failures > 0))
