# Sourced by the end-to-end tests: start_private_xvfb DIR starts an X server on a display it
# picks and names itself (a number merely free when looked at may be taken, or still be going
# away, by the time a server starts on it), sets XVFB_PID and exports DISPLAY; returns 1 when
# no server came up. -noreset: a server that resets when its last client leaves (a readiness
# probe) refuses the next one meanwhile.
start_private_xvfb() {
    local dir=$1 number
    exec 3>"$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
    XVFB_PID=$!
    exec 3>&-
    for _ in $(seq 100); do
        [[ -s $dir/display ]] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.05
    done
    number=$(tr -dc 0-9 <"$dir/display")
    [[ -n $number ]] || return 1
    export DISPLAY=":$number"
}
