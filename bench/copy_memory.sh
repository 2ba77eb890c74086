#!/usr/bin/env bash
# What Copy and a paste cost on a big listing. Opens FILE in the program under a running X
# server ($DISPLAY; e.g. inside xvfb-run), waits for " - Done", presses Ctrl+A and Ctrl+C,
# and waits until the clipboard is the program's. Then pastes it with xclip (UTF8_STRING,
# then STRING) and lets another program take the clipboard. Prints the program's memory
# (VmRSS, sampled every 20 ms) at each stage, the copied text's size, and how long Copy
# took from the key to the clipboard.
# usage: bench/copy_memory.sh TARNWICK FILE [SHOT.png]
set -euo pipefail
exe=$1
file=$2
shot=${3:-}

"$exe" "$file" &
pid=$!
sampler=""
trap 'kill $pid ${sampler:-} 2>/dev/null || true' EXIT
until wid=$(xdotool search --onlyvisible --name ' - Done$' 2>/dev/null | head -1) && [[ -n $wid ]]; do
  sleep 0.05
  kill -0 "$pid" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
done
rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$pid/status"; }
# The largest VmRSS seen since the last call.
peak_file=$(mktemp)
sample() {
  echo 0 >"$peak_file"
  while :; do
    r=$(rss)
    (( r > $(cat "$peak_file") )) && echo "$r" >"$peak_file"
    sleep 0.02
  done
}
restart_sampler() {
  [[ -n $sampler ]] && kill "$sampler" 2>/dev/null
  sample &
  sampler=$!
}
peak() { cat "$peak_file"; }

xdotool windowactivate --sync "$wid" >/dev/null 2>&1 || true
sleep 0.3
echo "after the scan: $(rss) MB"
xdotool key ctrl+a
sleep 1
echo "after Ctrl+A: $(rss) MB"
restart_sampler
start=$(date +%s%N)
xdotool key ctrl+c
shown=0
until xclip -o -selection clipboard -t TARGETS >/dev/null 2>&1; do
  if [[ -n $shot && $shown -eq 0 && $(($(date +%s%N) - start)) -gt 700000000 ]]; then
    import -window root "$shot" 2>/dev/null || true
    shown=1
  fi
  sleep 0.02
done
echo "Ctrl+C to the clipboard: $((($(date +%s%N) - start) / 1000000)) ms"
echo "during Copy: peak $(peak) MB, now $(rss) MB"
for target in UTF8_STRING STRING; do
  restart_sampler
  bytes=$(xclip -o -selection clipboard -t "$target" | wc -c)
  echo "paste as $target: $bytes bytes; peak $(peak) MB, now $(rss) MB"
done
echo taken | xclip -selection clipboard
sleep 1
echo "after another program took the clipboard: $(rss) MB"
rm -f "$peak_file"
