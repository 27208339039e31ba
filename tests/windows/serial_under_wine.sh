#!/bin/sh
# A scale on a COM port under Wine: a virtual scale on a pseudo-terminal of this machine (served
# by this machine's own tool), mapped as COM7 through a fresh Wine prefix's dosdevices folder;
# the fleet DLL (its C test's serial case) and the Windows tool sync it, read it back and name it
# as \\.\COM7 too.
#   serial_under_wine.sh WINE_LOADER VUDADUV_EXE FLEET_C_TEST_EXE HOST_VUDADUV
# Exit 77 (skipped) when there is no tool of this machine to serve the scale.
set -u
wine=$1
tool=$2
fleet_test=$3
host_tool=$4

if [ ! -x "$host_tool" ]; then
    echo "no vudaduv of this machine at $host_tool to serve a pseudo-terminal: skipped"
    exit 77
fi

work=$(mktemp -d)
scale=
cleanup() {
    [ -n "$scale" ] && kill "$scale" 2>/dev/null && wait "$scale" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}

"$host_tool" scale --pty --count 1 --baud 115200 >"$work/lines" 2>"$work/lines.err" &
scale=$!
tries=0
while [ ! -s "$work/lines" ] && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
device=$(head -n 1 "$work/lines")
[ -n "$device" ] || fail "no pseudo-terminal: $(cat "$work/lines.err")"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all
# The prefix is made by the first program Wine runs; then COM7 is the scale's line.
"$wine" "$tool" --version >/dev/null 2>&1 || fail "Wine does not run $tool"
mkdir -p "$WINEPREFIX/dosdevices"
ln -sf "$device" "$WINEPREFIX/dosdevices/com7"

cd "$work" || fail "no directory"
VUDADUV_TEST_SERIAL_SCALE=serial:COM7 "$wine" "$fleet_test" serial >fleet.out 2>&1 ||
    fail "the fleet DLL over COM7: $(cat fleet.out)"
grep -q skipped fleet.out && fail "the fleet DLL's serial case did not run: $(cat fleet.out)"

printf '1A0100000599##Apple\n2A0100000249##Pear\n3A0100000119##Lemon\n' >items.txt
"$wine" "$tool" sync --file items.txt --type 1 --target serial:COM7 --state state >sync.out 2>&1 ||
    fail "sync over COM7: $(cat sync.out)"
grep -q '^serial:COM7: sent 3, unchanged 0, removed 0' sync.out || fail "sync: $(cat sync.out)"
"$wine" "$tool" diff items.txt 'scale:serial:\\.\COM7@115200' --type 1 --items 1-3 >diff.out 2>&1 ||
    fail "diff over \\\\.\\COM7: $(cat diff.out)"
"$wine" "$tool" sync --file items.txt --type 1 --target 'serial:\\.\com7' --state state \
    >again.out 2>&1 || fail "sync again: $(cat again.out)"
grep -q 'sent 0, unchanged 3, removed 0' again.out || fail "sync again: $(cat again.out)"
"$wine" "$tool" pull --target serial:COM9 --out pulled --types 1 --items 1-2 >pull.out 2>&1 &&
    fail "a COM port that is not there was read"
grep -q 'not read: no such device' pull.out || fail "COM9: $(cat pull.out)"
echo "the fleet DLL and the tool over COM7: ok"
