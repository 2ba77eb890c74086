#!/usr/bin/env bash
# The clipboard of the real program under Xvfb: Ctrl+A, Ctrl+C on 200,000 rows, then pastes
# by xclip as UTF8_STRING, STRING and TEXT (each 3.6 MB, so it goes in pieces), one by a
# reader that quits midway, two at once into one window, one into the program's own window
# (after which its keys must still work), and one of a single row. Every paste must be the
# marked rows byte for byte, and the program must live through all of them.
#
# Usage: clipboard_e2e.sh PATH/TO/tarnwick PATH/TO/selection_requestor
# Exit status: 0 passed, 1 failed, 77 skipped (no Xvfb, xdotool or xclip).
set -euo pipefail

APP=${1:?usage: clipboard_e2e.sh PATH/TO/tarnwick PATH/TO/selection_requestor}
REQUESTOR=${2:?usage: clipboard_e2e.sh PATH/TO/tarnwick PATH/TO/selection_requestor}
for tool in Xvfb xdotool xclip python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-clip.XXXXXX")
XVFB_PID=""
APP_PID=""
cleanup() {
    local status=$?
    [[ -n $APP_PID ]] && kill "$APP_PID" 2>/dev/null || true
    [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    if [[ $status -eq 0 ]]; then rm -rf "$WORK"; else echo "work files kept in $WORK"; fi
    exit "$status"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

# 200,000 runs of 10 letters, each after a NUL, and the rows Copy gives for them.
python3 - "$WORK" <<'EOF'
import sys
work = sys.argv[1]
with open(work + "/rows.bin", "wb") as f:
    f.write(b"\0abcdefghij" * 200000 + b"\0")
with open(work + "/expected.txt", "wb") as f:
    f.write(b"".join(b"%06X\tabcdefghij\n" % (1 + 11 * i) for i in range(200000)))
EOF

# shellcheck source=private_xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_xvfb.sh"
start_private_xvfb "$WORK" || fail "Xvfb did not start"
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

"$APP" "$WORK/rows.bin" >"$WORK/app.log" 2>&1 &
APP_PID=$!
wid=""
for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --name ' - Done$' 2>/dev/null | head -1 || true)
    [[ -n $wid ]] && break
    kill -0 "$APP_PID" 2>/dev/null || fail "the program ended before the scan was done"
    sleep 0.1
done
[[ -n $wid ]] || fail "no \" - Done\" in 30 s"
xdotool windowactivate --sync "$wid" >/dev/null 2>&1 || xdotool windowfocus "$wid"
sleep 0.3
xdotool key ctrl+a ctrl+c
# Copy is done when the clipboard is the program's (a loaded machine may take a while).
for _ in $(seq 200); do
    xclip -o -selection clipboard -t TARGETS >/dev/null 2>&1 && break
    sleep 0.1
done

paste_as() { timeout 30 xclip -o -selection clipboard -t "$1"; }
for target in UTF8_STRING STRING TEXT; do
    paste_as "$target" >"$WORK/got.txt" || fail "xclip -t $target failed"
    cmp -s "$WORK/got.txt" "$WORK/expected.txt" ||
        fail "the $target paste differs: $(stat -c %s "$WORK/got.txt") bytes"
    echo "ok: $target, $(stat -c %s "$WORK/got.txt") bytes"
done

# A reader that takes the first piece and quits: the next paste is whole all the same.
paste_as UTF8_STRING | head -c 1000 >/dev/null || true
paste_as STRING | cmp -s - "$WORK/expected.txt" || fail "the paste after a reader quit differs"
echo "ok: a reader that quits midway"

# Two pastes at once into one window: the end of one leaves the other going.
timeout 30 "$REQUESTOR" --count 2 >"$WORK/two.txt" || fail "two pastes into one window failed"
cat "$WORK/expected.txt" "$WORK/expected.txt" | cmp -s - "$WORK/two.txt" || fail "two pastes differ"
echo "ok: two pastes into one window"

# A paste into the program's own window: the program still hears its keys afterwards (the
# Home below must move to the first row).
timeout 30 "$REQUESTOR" --window "$wid" >"$WORK/own.txt" || fail "a paste into the program's window failed"
cmp -s "$WORK/own.txt" "$WORK/expected.txt" || fail "the paste into the program's window differs"
echo "ok: a paste into the program's own window"

# One row: small enough for one piece.
xdotool key Home ctrl+c
for _ in $(seq 100); do
    paste_as STRING >"$WORK/one.txt" || fail "xclip of one row failed"
    [[ $(cat "$WORK/one.txt") == $'000001\tabcdefghij' ]] && break
    sleep 0.1
done
[[ $(cat "$WORK/one.txt") == $'000001\tabcdefghij' ]] || fail "one row pasted as $(head -c 100 "$WORK/one.txt")"
echo "ok: one row"

kill -0 "$APP_PID" 2>/dev/null || fail "the program ended"
echo "passed"
