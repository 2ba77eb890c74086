#!/usr/bin/env bash
# End-to-end check of the real program, driven only from the keyboard.
#
# Starts `tarnwick FILE` on a private Xvfb server and, with xdotool key presses only:
#   File > Export > All...     (Alt+F, E, A)  typed path     -> every row
#   Edit > Find...             (Alt+E, Return) "hello"       -> rows containing it get marked
#   Edit > Copy                (Ctrl+C)                      -> the marked rows, LF ends (xclip)
#   File > Export > Marked...  (Alt+F, E, M)  typed path     -> only the marked rows
#   Help > About...            (Alt+O, Right, Return; Enter) -> the box comes and goes
#   Minimum Text Length...     (Alt+O, Return) 99, Tab, Tab, Enter -> Cancel: 10 stays
#   File > Open...             (Alt+F, O)     the same file  -> rescanned with 10
#   File > Export > All...     (Alt+F, E, A)  default name   -> FILE with .txt in place of .bin
#   Alt+F, E, Escape x2, Alt+E, Escape x2, Down, Ctrl+C      -> the list has the keys: row 1
#   Escape                                                   -> the program ends, status 0
# then compares the three files byte for byte with listings written out here by hand.
#
# Usage: keyboard_e2e.sh PATH/TO/tarnwick
# Exit status: 0 passed, 1 failed, 77 skipped (no Xvfb, xdotool or xclip).
set -euo pipefail

APP=${1:?usage: keyboard_e2e.sh PATH/TO/tarnwick}

for tool in Xvfb xdotool xclip; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
if [[ ! -x $APP ]]; then
    echo "FAIL: $APP is not an executable file"
    exit 1
fi
APP=$(cd "$(dirname "$APP")" && pwd)/$(basename "$APP")
# Screenshots of failures go next to the executable, in the build tree.
ARTIFACTS=${TARNWICK_E2E_ARTIFACTS:-$(dirname "$APP")}

START=$SECONDS
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX")
XVFB_PID=""
APP_PID=""
DISPLAY_NUM=""
FAILED=0

log() { printf '[%3ds] %s\n' "$((SECONDS - START))" "$*"; }

stop_pid() {
    local pid=$1
    [[ -n $pid ]] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    stop_pid "$APP_PID"
    stop_pid "$XVFB_PID"
    if [[ $FAILED -eq 0 && $status -eq 0 ]]; then
        rm -rf "$WORK"
    else
        echo "work files kept in $WORK"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Everything there is to know about the screen, printed once on the first failure.
diagnose() {
    [[ -n $DISPLAY_NUM ]] || return 0
    echo "---- windows on :$DISPLAY_NUM"
    local w
    for w in $(timeout 5 xdotool search --name . 2>/dev/null || true); do
        printf '  %s mapped=%s "%s"\n' "$w" \
            "$(timeout 5 xwininfo -id "$w" 2>/dev/null | sed -n 's/^ *Map State: *//p')" \
            "$(timeout 5 xdotool getwindowname "$w" 2>/dev/null || true)"
    done
    echo "---- focus: $(focused_name)"
    if [[ -n $APP_PID ]]; then
        if kill -0 "$APP_PID" 2>/dev/null; then
            echo "---- program (pid $APP_PID) still running"
        else
            echo "---- program (pid $APP_PID) no longer running"
        fi
    fi
    if command -v import >/dev/null 2>&1; then
        local shot="$ARTIFACTS/keyboard_e2e-failure.png"
        if timeout 10 import -display ":$DISPLAY_NUM" -window root "$shot" 2>/dev/null; then
            echo "---- screenshot: $shot"
        fi
    fi
    echo "---- program output"
    sed 's/^/  /' "$WORK/app.log" 2>/dev/null || true
    echo "---- Xvfb output"
    sed 's/^/  /' "$WORK/xvfb.log" 2>/dev/null || true
    echo "---- files in $WORK"
    ls -la "$WORK" | sed 's/^/  /' || true
}

fail() {
    echo "FAIL: $*"
    if [[ $FAILED -eq 0 ]]; then
        FAILED=1
        diagnose
    fi
    exit 1
}
trap 'fail "command failed at line $LINENO: $BASH_COMMAND"' ERR

# ---- the input: printable runs of 10 or more characters between other bytes

INPUT="$WORK/sample.bin"
{
    printf '\001Hello World here\000'         # 0x01  Hello World here
    printf 'another text run\000'             # 0x12  another text run
    printf 'HELLO again friend\000'           # 0x23  HELLO again friend
    printf 'short\000'                        # 0x36  five characters: no row
    printf '\002\003 binary mid hElLo xyz'    # 0x3E  " binary mid hElLo xyz"
    printf '\377\200shell oil rig'            # 0x55  shell oil rig   (hell, but no hello)
    printf '\tOthello plays\000\000'          # 0x63  Othello plays   (t-HELLO)
    head -c 200 /dev/zero
    printf 'far away Hello\000\000'           # 0x13A far away Hello
} >"$INPUT"
[[ $(stat -c %s "$INPUT") -eq 330 ]] || fail "the input file is not the 330 bytes meant"
cp "$INPUT" "$WORK/sample.orig"

EXPECTED_ALL="$WORK/expected_all.txt"
EXPECTED_MARKED="$WORK/expected_marked.txt"
printf '%s\r\n' \
    $'000001\tHello World here' \
    $'000012\tanother text run' \
    $'000023\tHELLO again friend' \
    $'00003E\t binary mid hElLo xyz' \
    $'000055\tshell oil rig' \
    $'000063\tOthello plays' \
    $'00013A\tfar away Hello' >"$EXPECTED_ALL"
printf '%s\r\n' \
    $'000001\tHello World here' \
    $'000023\tHELLO again friend' \
    $'00003E\t binary mid hElLo xyz' \
    $'000063\tOthello plays' \
    $'00013A\tfar away Hello' >"$EXPECTED_MARKED"

OUT_ALL="$WORK/all-rows.txt"
OUT_MARKED="$WORK/marked-rows.txt"
OUT_DEFAULT="$WORK/sample.txt"   # the name the save dialog offers for sample.bin

# ---- a private X server on a display it picks itself

log "starting Xvfb"
# shellcheck source=private_xvfb.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_xvfb.sh"
start_private_xvfb "$WORK" || fail "Xvfb did not start"
DISPLAY_NUM=${DISPLAY#:}
log "Xvfb on $DISPLAY"

# ---- helpers

# The name of the window holding the keyboard focus, or "" (also for PointerRoot/None).
focused_name() {
    timeout 5 xdotool getwindowfocus getwindowname 2>/dev/null || true
}

# wait_for SECONDS DESCRIPTION COMMAND...: retries COMMAND until it succeeds.
wait_for() {
    local limit=$1 what=$2
    shift 2
    local end=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < end)) || fail "gave up after ${limit}s waiting for $what"
        sleep 0.1
    done
}

# Prints the id of the visible window named exactly $1 (xdotool ignores case).
visible_window() {
    local pattern
    pattern=$(sed 's/[][\\.*^$?+(){}|]/\\&/g' <<<"$1")
    timeout 5 xdotool search --onlyvisible --name "^$pattern\$" 2>/dev/null | head -n 1
}
window_shown() { [[ -n $(visible_window "$1") ]]; }
window_gone() { [[ -z $(visible_window "$1") ]]; }
has_focus() { [[ $(focused_name) == "$1" ]]; }
title_is() { [[ $(timeout 5 xdotool getwindowname "$MAIN" 2>/dev/null || true) == "$1" ]]; }
app_running() { kill -0 "$APP_PID" 2>/dev/null; }
app_ended() { ! app_running; }

key() {
    app_running || fail "the program ended before the keys: $*"
    xdotool key --delay 60 "$@"
    sleep 0.25
}

type_text() {
    xdotool type --delay 25 "$1"
    sleep 0.2
}

# There is no window manager on this server, and so nobody hands the focus back to the
# main window when a dialog closes (X leaves it on PointerRoot). Give it back the way a
# window manager would, and wait until the program has the main window active again.
focus_main() {
    timeout 5 xdotool windowfocus --sync "$MAIN" || fail "could not focus the main window"
    wait_for 5 "focus on the main window" has_focus "Tarnwick - Done"
    sleep 0.3
}

# A modal dialog named $1 appears and takes the focus by itself.
expect_dialog() {
    wait_for 10 "the \"$1\" window" window_shown "$1"
    wait_for 5 "focus on \"$1\"" has_focus "$1"
    sleep 0.3
}

# The dialog named $1 closes, the main window says the work is done, and no message box
# ("Text Not Found" and the like) came up in between.
expect_back_in_main() {
    wait_for 10 "the \"$1\" window to close" window_gone "$1"
    wait_for 10 "the title \"Tarnwick - Done\"" title_is "Tarnwick - Done"
    local names
    names=$(for w in $(timeout 5 xdotool search --onlyvisible --name . 2>/dev/null || true); do
        timeout 5 xdotool getwindowname "$w" 2>/dev/null || true
    done)
    if grep -qvx -e "Tarnwick - Done" -e "" <<<"$names"; then
        fail "unexpected window(s) after \"$1\": $(tr '\n' '|' <<<"$names")"
    fi
    focus_main
}

# Answers the save dialog: with no path, accepts the offered name.
save_as() {
    expect_dialog "Save As"
    if [[ -n ${1:-} ]]; then
        key ctrl+a
        type_text "$1"
    fi
    key Return
    expect_back_in_main "Save As"
}

# ---- the session

log "starting $APP $INPUT"
(
    cd "$WORK"
    export QT_QPA_PLATFORM=xcb
    export XDG_RUNTIME_DIR="$WORK/runtime" XDG_CONFIG_HOME="$WORK/config"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
    exec "$APP" "$INPUT"
) >"$WORK/app.log" 2>&1 &
APP_PID=$!

wait_for 15 "the main window \"Tarnwick - Done\"" window_shown "Tarnwick - Done"
MAIN=$(visible_window "Tarnwick - Done")
log "main window $MAIN"
focus_main

log "File > Export > All..."
key alt+f
key e
key a
save_as "$OUT_ALL"

log "Edit > Find..."
key alt+e
key Return
expect_dialog 'Text to find?'
type_text hello
key Return
expect_back_in_main 'Text to find?'

log "Edit > Copy by its shortcut, Ctrl+C"
key ctrl+c
tr -d '\r' <"$EXPECTED_MARKED" >"$WORK/expected_clipboard.txt"
clipboard_has_marked() {
    timeout 5 xclip -o -selection clipboard >"$WORK/clipboard.txt" 2>/dev/null &&
        cmp -s "$WORK/clipboard.txt" "$WORK/expected_clipboard.txt"
}
wait_for 5 "the marked rows on the clipboard" clipboard_has_marked

log "File > Export > Marked..."
key alt+f
key e
key m
save_as "$OUT_MARKED"

log "Options, then Right to Help, About...: Enter closes the box"
key alt+o
key Right
key Return
expect_dialog "About Varnel"
key Return
expect_back_in_main "About Varnel"

log "Options > Minimum Text Length...: 99, Tab to Cancel, Enter keeps 10"
key alt+o
key Return
expect_dialog "The minimum number of alpha chars to consider a word?"
type_text 99
key Tab Tab
key Return
expect_back_in_main "The minimum number of alpha chars to consider a word?"

log "File > Open... the same file again: still every row of 10 or more"
key alt+f
key o
expect_dialog "Open"
key ctrl+a
type_text "$INPUT"
key Return
expect_back_in_main "Open"

log "File > Export > All... under the offered name"
key alt+f
key e
key a
save_as ""

log "Menus left with Escape: File > Export, Escape twice, Alt+E, Escape twice; Down, Ctrl+C"
# The bar, asked for Edit by its letter while it held the keyboard, once kept it for good:
# Down and Escape no longer reached the list or the window.
key alt+f
key e
key Escape Escape
key alt+e
key Escape Escape
key Down
key ctrl+c
printf '%s\n' $'000001\tHello World here' >"$WORK/expected_first_row.txt"
clipboard_has_first_row() {
    timeout 5 xclip -o -selection clipboard >"$WORK/clipboard.txt" 2>/dev/null &&
        cmp -s "$WORK/clipboard.txt" "$WORK/expected_first_row.txt"
}
wait_for 5 "Down to mark the first row (the keys reach the list)" clipboard_has_first_row

log "Escape"
key Escape
wait_for 10 "the program to end after Escape" app_ended
set +e
wait "$APP_PID"
APP_STATUS=$?
set -e
APP_PID=""
[[ $APP_STATUS -eq 0 ]] || fail "the program ended with status $APP_STATUS"

# ---- the files

check_file() {
    local what=$1 actual=$2 expected=$3
    [[ -f $actual ]] || fail "$what: $actual was not written"
    if ! cmp -s "$expected" "$actual"; then
        echo "---- $what: expected"
        od -c "$expected" | sed 's/^/  /'
        echo "---- $what: got"
        od -c "$actual" | sed 's/^/  /'
        diff <(tr -d '\r' <"$expected") <(tr -d '\r' <"$actual") | sed 's/^/  /' || true
        fail "$what: $actual differs from the expected listing"
    fi
    log "$what: $(wc -l <"$actual") lines as expected"
}
check_file "Export All" "$OUT_ALL" "$EXPECTED_ALL"
check_file "Export Marked" "$OUT_MARKED" "$EXPECTED_MARKED"
check_file "Export All under the offered name" "$OUT_DEFAULT" "$EXPECTED_ALL"
cmp -s "$INPUT" "$WORK/sample.orig" || fail "the scanned file was changed"

log "PASS"
