#!/usr/bin/env bash
# Stop on a file too big to scan: makes a sparse file of 1 PiB (in /dev/shm unless DIR is
# given; it needs a file system that allows such sizes, as tmpfs and XFS do), opens it in
# the program under a running X server ($DISPLAY; e.g. inside xvfb-run), lets the scan run
# for a second, presses Escape and prints how long the caption took to end " - Stopped",
# how far the scan had read, and the program's peak memory. The program is then ended.
# usage: bench/stop_sparse.sh TARNWICK [DIR]
set -euo pipefail
exe=$1
dir=${2:-/dev/shm}
file="$dir/tarnwick-pib.bin"
truncate -s 1P "$file"
trap 'rm -f "$file"; kill $pid 2>/dev/null || true' EXIT

ms() { echo $(($(date +%s%N) / 1000000)); }
wait_for() {
  local caption=$1 since
  since=$(ms)
  until wid=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -1) && [[ -n $wid ]]; do
    sleep 0.005
    kill -0 "$pid" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
    if (($(ms) - since > 20000)); then
      echo "no window \"$caption\" after 20 s" >&2
      exit 1
    fi
  done
}

start=$(ms)
"$exe" "$file" &
pid=$!
wait_for ' - Scanning$'
echo "launch to \" - Scanning\": $(($(ms) - start)) ms"
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
sleep 1
pressed=$(ms)
xdotool key Escape
wait_for ' - Stopped$'
echo "Escape to \" - Stopped\": $(($(ms) - pressed)) ms"
read_bytes=$(awk '/^rchar/ {print $2}' "/proc/$pid/io")
echo "read before the stop: $((read_bytes / 1048576)) MiB of 1 PiB"
echo "peak memory: $(awk '/^VmHWM/ {print int($2 / 1024)}' "/proc/$pid/status") MB"
kill -0 "$pid" && echo "the window is still there"
