#!/usr/bin/env bash
# What the window costs beyond the listing, and how long the list takes to answer, on a big
# file. Scans FILE headless (tarnwick_bench) for its peak memory, then opens it in the
# program under a running X server ($DISPLAY; e.g. inside xvfb-run), waits for " - Done",
# and drives the list with xdotool: a click, Ctrl+End, Ctrl+A, Home, Page Down, Shift+End,
# End, a click. For each it prints the CPU time the program spent answering (from
# /proc/PID/stat, in 10 ms ticks), and at the end the program's peak and current memory.
# usage: bench/window_memory.sh TARNWICK TARNWICK_BENCH FILE
set -euo pipefail
exe=$1
bench=$2
file=$3

headless=$("$bench" "$file" | sed -n 's/^peak_rss_mb: //p')
rows=$("$bench" "$file" | sed -n 's/^rows: //p')
echo "rows: $rows"
echo "headless peak: $headless MB"

"$exe" "$file" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
start=$(date +%s%N)
until wid=$(xdotool search --onlyvisible --name ' - Done$' 2>/dev/null | head -1) && [[ -n $wid ]]; do
  sleep 0.05
  kill -0 "$pid" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
  if (($(date +%s%N) - start > 600000000000)); then
    echo "no \" - Done\" after 10 minutes" >&2
    exit 1
  fi
done
echo "launch to \" - Done\": $((($(date +%s%N) - start) / 1000000)) ms"

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
eval "$(xdotool getwindowgeometry --shell "$wid")"
# A point in the list, below the menu bar and the header.
cx=$((X + WIDTH / 2))
cy=$((Y + HEIGHT / 3))
xdotool mousemove "$cx" "$cy"
sleep 0.5
act() {
  local what=$1
  shift
  local before after
  before=$(ticks)
  "$@"
  sleep 0.5
  after=$(ticks)
  printf '%-12s %4d ms of CPU\n' "$what" $(((after - before) * 1000 / hz))
}
act "click" xdotool click 1
act "Ctrl+End" xdotool key ctrl+End
act "Ctrl+A" xdotool key ctrl+a
act "Home" xdotool key Home
act "Page Down" xdotool key Next
act "Shift+End" xdotool key shift+End
act "End" xdotool key End
act "click" xdotool click 1
peak=$(awk '/^VmHWM/ {print int($2 / 1024)}' "/proc/$pid/status")
now=$(awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$pid/status")
echo "window peak: $peak MB, now $now MB"
echo "window peak beyond headless: $(awk -v a="$peak" -v b="$headless" 'BEGIN {printf "%.0f", a - b}') MB"
