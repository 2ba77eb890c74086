#!/usr/bin/env bash
# Times the program from launch until its window is mapped with the given caption, under a
# running X server ($DISPLAY; e.g. inside xvfb-run). Prints the median of RUNS launches.
# usage: bench/startup.sh TARNWICK CAPTION [RUNS] [FILE]
#   TARNWICK_LAUNCH_TIMER  the bench's event-driven timer (default build/bench/tarnwick_launch_timer);
#                          without it, xdotool is asked every 5 ms, which takes processor time
#                          from the program timed.
set -euo pipefail
exe=$1
caption=$2
runs=${3:-5}
file=${4:-}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
timer=${TARNWICK_LAUNCH_TIMER:-$root/build/bench/tarnwick_launch_timer}
args=("$exe")
[[ -n "$file" ]] && args+=("$file")

# One launch, polling xdotool: the way without the timer.
poll_launch() {
  local start end pid
  start=$(date +%s%N)
  "${args[@]}" >&2 &
  pid=$!
  until xdotool search --onlyvisible --name "^${caption}\$" >/dev/null 2>&1; do
    sleep 0.005
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "the program ended before its window showed" >&2
      return 1
    fi
    if (($(date +%s%N) - start > 20000000000)); then
      echo "no window \"$caption\" after 20 s" >&2
      kill "$pid" 2>/dev/null || true
      return 1
    fi
  done
  end=$(date +%s%N)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo $(((end - start) / 1000000))
}

times=()
for ((i = 0; i < runs; i++)); do
  if [[ -x $timer ]]; then
    times+=($("$timer" "$caption" "${args[@]}"))
  else
    times+=($(poll_launch))
  fi
done
how=$([[ -x $timer ]] && echo "event timer" || echo "xdotool polling")
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "launch to \"$caption\" ($how): runs ${times[*]} ms, median $(echo "$sorted" | sed -n "$(((runs + 1) / 2))p") ms"
