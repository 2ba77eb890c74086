#!/usr/bin/env bash
# Times tarnwick-scan as a whole process against GNU strings, and reading a pipe against
# reading the file by name, page cache warm. Each round runs the three commands back to back
# (so drift in machine load falls on all alike); it prints the medians and the median of
# each round's ratios.
# Usage: bench/cli.sh [FILE] [RUNS=9]   (TARNWICK_SCAN may name the binary)
# FILE defaults to the LLVM 15 library.
set -euo pipefail

file=${1:-/usr/lib/x86_64-linux-gnu/libLLVM-15.so.1}
runs=${2:-9}
if [[ ! -f $file ]]; then
    echo "$0: $file is not a regular file" >&2
    exit 1
fi
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "$0: RUNS must be a positive integer" >&2
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scan=${TARNWICK_SCAN:-$root/build/tarnwick-scan}
if [[ ! -x $scan ]]; then
    echo "$0: no tarnwick-scan at $scan (build it, or set TARNWICK_SCAN)" >&2
    exit 1
fi
command -v strings >/dev/null || { echo "$0: strings not found" >&2; exit 1; }

by_name="$scan $file > /dev/null"
by_pipe="cat $file | $scan > /dev/null"
gnu="strings -a -n 10 -t x $file > /dev/null"

# Milliseconds one command takes, as a whole process (or pipeline) started from here.
time_ms() {
    local t0 t1
    t0=$(date +%s%N)
    eval "$1"
    t1=$(date +%s%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e6 }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# The pipe must list what the name lists, or its time means nothing.
if ! cmp -s <("$scan" "$file") <(cat "$file" | "$scan"); then
    echo "$0: the listing read from a pipe differs from the one read by name" >&2
    exit 1
fi

# One untimed round, so that every timed one reads from a warm page cache.
time_ms "$by_name" >/dev/null
time_ms "$by_pipe" >/dev/null
time_ms "$gnu" >/dev/null

names=() pipes=() gnus=() gnu_ratios=() pipe_ratios=()
for ((i = 0; i < runs; ++i)); do
    n=$(time_ms "$by_name")
    p=$(time_ms "$by_pipe")
    g=$(time_ms "$gnu")
    names+=("$n") pipes+=("$p") gnus+=("$g")
    gnu_ratios+=("$(ratio "$g" "$n")")
    pipe_ratios+=("$(ratio "$p" "$n")")
done

echo "file: $file ($(stat -c %s "$file") bytes), rounds: $runs, rows: $("$scan" "$file" | wc -l)"
printf '%-10s %10s  %s\n' "median" "ms" "command"
printf '%-10s %10s  %s\n' "by name" "$(median "${names[@]}")" "$by_name"
printf '%-10s %10s  %s\n' "pipe" "$(median "${pipes[@]}")" "$by_pipe"
printf '%-10s %10s  %s\n' "strings" "$(median "${gnus[@]}")" "$gnu"
echo "by name, round by round: ${names[*]}"
echo "pipe, round by round:    ${pipes[*]}"
printf '%-36s %8s\n' "ratio (median of the rounds')" "x"
printf '%-36s %8s\n' "strings / by name (target >= 10)" "$(median "${gnu_ratios[@]}")"
printf '%-36s %8s\n' "pipe / by name (target <= 1.5)" "$(median "${pipe_ratios[@]}")"
