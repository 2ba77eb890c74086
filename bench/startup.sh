#!/usr/bin/env bash
# Times the program from launch until its window is mapped with the given caption, under a
# running X server ($DISPLAY; e.g. inside xvfb-run). Prints the median of RUNS launches.
# usage: bench/startup.sh TARNWICK CAPTION [RUNS] [FILE]
set -euo pipefail
exe=$1
caption=$2
runs=${3:-5}
file=${4:-}
times=()
for ((i = 0; i < runs; i++)); do
  start=$(date +%s%N)
  if [[ -n "$file" ]]; then "$exe" "$file" & else "$exe" & fi
  pid=$!
  until xdotool search --onlyvisible --name "^${caption}\$" >/dev/null 2>&1; do
    sleep 0.005
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "the program ended before its window showed" >&2
      exit 1
    fi
    if (($(date +%s%N) - start > 20000000000)); then
      echo "no window \"$caption\" after 20 s" >&2
      kill "$pid" 2>/dev/null || true
      exit 1
    fi
  done
  end=$(date +%s%N)
  times+=($(((end - start) / 1000000)))
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "launch to \"$caption\": runs ${times[*]} ms, median $(echo "$sorted" | sed -n "$(((runs + 1) / 2))p") ms"
