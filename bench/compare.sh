#!/usr/bin/env bash
# Times tarnwick_bench against GNU strings and wc on one file, page cache warm, and prints
# the medians with their ratios.
# Usage: bench/compare.sh FILE [RUNS=5]   (TARNWICK_BENCH may name the bench binary)
# With TARNWICK_UTF16=1 it also times the scan with UTF-16 text on (tarnwick_bench --utf16)
# against the scan without it and against strings -e l -n 10 -t x.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 FILE [RUNS=5]" >&2
    exit 2
fi
file=$1
runs=${2:-5}
if [[ ! -f $file ]]; then
    echo "$0: $file is not a regular file" >&2
    exit 1
fi
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "$0: RUNS must be a positive integer" >&2
    exit 2
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench=${TARNWICK_BENCH:-$root/build/bench/tarnwick_bench}
if [[ ! -x $bench ]]; then
    echo "$0: no bench binary at $bench (build it, or set TARNWICK_BENCH)" >&2
    exit 1
fi
command -v strings >/dev/null || { echo "$0: strings not found" >&2; exit 1; }

now() { date +%s.%N; }
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) * 1000 }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

bench_out=$(mktemp)
bench16_out=$(mktemp)
trap 'rm -f "$bench_out" "$bench16_out"' EXIT

run_tarnwick() {
    local t0 t1
    t0=$(now)
    "$bench" "$file" >"$bench_out"
    t1=$(now)
    tw_wall+=("$(elapsed_ms "$t0" "$t1")")
    tw_scan+=("$(awk -F': ' '$1 == "scan_ms" { print $2 }' "$bench_out")")
}
run_strings() {
    local t0 t1
    t0=$(now)
    strings -n 10 -t x "$file" >/dev/null
    t1=$(now)
    st_wall+=("$(elapsed_ms "$t0" "$t1")")
}
run_utf16() {
    local t0 t1
    t0=$(now)
    "$bench" "$file" --utf16 >"$bench16_out"
    t1=$(now)
    tw16_wall+=("$(elapsed_ms "$t0" "$t1")")
    tw16_scan+=("$(awk -F': ' '$1 == "scan_ms" { print $2 }' "$bench16_out")")
    t0=$(now)
    strings -e l -n 10 -t x "$file" >/dev/null
    t1=$(now)
    st16_wall+=("$(elapsed_ms "$t0" "$t1")")
}
utf16=${TARNWICK_UTF16:-0}
run_wc() {
    local t0 t1
    t0=$(now)
    wc -l "$file" >/dev/null
    t1=$(now)
    wc_wall+=("$(elapsed_ms "$t0" "$t1")")
}

# One untimed round first, so that every timed run reads from a warm page cache.
tw_wall=() tw_scan=() st_wall=() wc_wall=() tw16_wall=() tw16_scan=() st16_wall=()
run_tarnwick
run_strings
run_wc
[[ $utf16 == 1 ]] && run_utf16
tw_wall=() tw_scan=() st_wall=() wc_wall=() tw16_wall=() tw16_scan=() st16_wall=()

# Interleaved, so that drift in machine load falls on all three alike.
for ((i = 0; i < runs; ++i)); do
    run_tarnwick
    run_strings
    run_wc
    [[ $utf16 == 1 ]] && run_utf16
done

rows=$(awk -F': ' '$1 == "rows" { print $2 }' "$bench_out")
rss=$(awk -F': ' '$1 == "peak_rss_mb" { print $2 }' "$bench_out")
size=$(stat -c %s "$file")
m_tw=$(median "${tw_wall[@]}")
m_scan=$(median "${tw_scan[@]}")
m_st=$(median "${st_wall[@]}")
m_wc=$(median "${wc_wall[@]}")

echo "file: $file ($size bytes), runs: $runs, tarnwick rows: $rows, peak_rss_mb: $rss"
printf '%-28s %12s\n' "median" "ms"
printf '%-28s %12s\n' "tarnwick_bench (process)" "$m_tw"
printf '%-28s %12s\n' "tarnwick_bench (scan_ms)" "$m_scan"
printf '%-28s %12s\n' "strings -n 10 -t x" "$m_st"
printf '%-28s %12s\n' "wc -l" "$m_wc"
echo "tarnwick_bench scan_ms, run by run: ${tw_scan[*]}"
printf '%-28s %12s\n' "ratio" "x"
printf '%-28s %12s\n' "strings / tarnwick (process)" "$(ratio "$m_st" "$m_tw")"
printf '%-28s %12s\n' "strings / tarnwick (scan)" "$(ratio "$m_st" "$m_scan")"
printf '%-28s %12s\n' "tarnwick (process) / wc" "$(ratio "$m_tw" "$m_wc")"
printf '%-28s %12s\n' "tarnwick (scan) / wc" "$(ratio "$m_scan" "$m_wc")"
if [[ $utf16 == 1 ]]; then
    m_tw16=$(median "${tw16_wall[@]}")
    m_st16=$(median "${st16_wall[@]}")
    m_scan16=$(median "${tw16_scan[@]}")
    printf '%-28s %12s\n' "tarnwick_bench --utf16" "$m_tw16"
    printf '%-28s %12s\n' "strings -e l -n 10 -t x" "$m_st16"
    printf '%-28s %12s\n' "--utf16 / without (process)" "$(ratio "$m_tw16" "$m_tw")"
    printf '%-28s %12s\n' "--utf16 / without (scan)" "$(ratio "$m_scan16" "$m_scan")"
    printf '%-28s %12s\n' "strings -e l / --utf16" "$(ratio "$m_st16" "$m_tw16")"
    printf '%-28s %12s\n' "strings -e l / --utf16 scan" "$(ratio "$m_st16" "$m_scan16")"
fi
