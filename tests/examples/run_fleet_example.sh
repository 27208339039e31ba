#!/usr/bin/env bash
# Runs a program that syncs scales (the README's fleet examples) as its reader would: against
# three virtual scales of the tool's and one address where nothing listens. The program is run
# twice with a state directory and the four addresses after its own arguments; the first run must
# name every scale, sync the three and fail the one that is off (exit status 1), the second must
# find the three in step.
# Usage: run_fleet_example.sh TOOL PROGRAM [ARG...]
set -euo pipefail
tool=$1
shift
work=$(mktemp -d)
scales=()
cleanup() {
  for pid in "${scales[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts COUNT of the tool's virtual scales on free ports; their addresses, one a line, go to FILE.
start_scales() {
  local file=$1 expected=$2 tries=0
  : >"$file"
  if [ "$expected" -gt 1 ]; then
    "$tool" scale --count "$expected" >"$file" 2>"$file.err" &
  else
    "$tool" scale --port 0 >"$file" 2>"$file.err" &
  fi
  scales+=($!)
  until [ "$(grep -c . "$file")" -ge "$expected" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "${scales[-1]}" 2>/dev/null; then
      echo "the virtual scales did not start: $(cat "$file.err")" >&2
      exit 1
    fi
    sleep 0.05
  done
}

start_scales "$work/up" 3
mapfile -t up < <(grep -oE '[0-9.]+:[0-9]+' "$work/up")
# A scale that is off: a port held bound and not listening, when the test's launcher gives one (a
# port merely freed again can be taken by the scales of a test running beside, and answer);
# else a scale started and stopped again.
down=${VUDADUV_TEST_SCALE_DOWN:-}
if [ -z "$down" ]; then
  start_scales "$work/gone" 1
  kill "${scales[-1]}"
  wait "${scales[-1]}" 2>/dev/null || true
  down=$(grep -oE '[0-9.]+:[0-9]+' "$work/gone" | head -1)
fi

failures=0
expect() {
  if ! grep -qE "$2" <<<"$1"; then
    echo "FAILED: expected a line matching '$2' in:" >&2
    echo "$1" >&2
    failures=$((failures + 1))
  fi
}

run() {
  local status=0
  output=$("$@" "$work/state" "${up[@]}" "$down" 2>&1) || status=$?
  echo "$output"
  return $status
}

status=0
run "$@" || status=$?
[ $status -eq 1 ] || { echo "FAILED: the first run ended with $status, not 1" >&2; failures=$((failures + 1)); }
for address in "${up[@]}"; do expect "$output" "^$address: synced, 3 confirmed, 0 pending\$"; done
expect "$output" "^$down: failed, 0 confirmed, 0 pending; .*refused"

status=0
run "$@" || status=$?
[ $status -eq 1 ] || { echo "FAILED: the second run ended with $status, not 1" >&2; failures=$((failures + 1)); }
for address in "${up[@]}"; do expect "$output" "^$address: in-step, 0 confirmed, 0 pending\$"; done
expect "$output" "^$down: failed"
exit $((failures > 0))
