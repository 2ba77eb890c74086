#!/usr/bin/env bash
# The scan's speed targets, each as a ratio of medians over paired whole-process runs (the
# two commands run in turn, so that drift in the machine's speed falls on both), with the
# commands that made it. Page cache warm: one untimed round goes first.
#
# usage: bench/compare.sh [RUNS=7]
#   TARNWICK_BENCH  the bench binary (default build/bench/tarnwick_bench)
#   TARNWICK_FLOOR  the floor under a scan (default build/bench/tarnwick_floor; its lines are
#                   skipped without it)
#   TARNWICK        the window program, for the launch target under X (default build/tarnwick;
#                   needs $DISPLAY, e.g. inside xvfb-run; skipped without one)
#   TARNWICK_LAUNCH_TIMER  the bench's launch timer (default build/bench/tarnwick_launch_timer;
#                   without it, startup.sh asks xdotool, which costs the window some time)
#   LLVM_LIBRARY    the LLVM library (default the newest /usr/lib/*/libLLVM-*.so.1)
#   BENCH_DIR       where the generated files go (default ${TMPDIR:-/tmp}/tarnwick-bench)
# The 312 MB file is the system's shared libraries of 1 MB and more, joined in name order;
# the text file is 100 MB of headers, documentation and scripts; the UTF-16 file is 100 MB
# of "A\0".
# Each whole-process target is followed by its floor: the file read on every thread,
# classified once and as much new memory written as the scan's listing takes, with no run
# looked for and no row made, against the same command. A scan can be no faster than that.
set -euo pipefail

runs=${1:-7}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [RUNS=7]" >&2
    exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench=${TARNWICK_BENCH:-$root/build/bench/tarnwick_bench}
window=${TARNWICK:-$root/build/tarnwick}
floor=${TARNWICK_FLOOR:-$root/build/bench/tarnwick_floor}
dir=${BENCH_DIR:-${TMPDIR:-/tmp}/tarnwick-bench}
[[ -x $bench ]] || { echo "$0: no bench binary at $bench (build it, or set TARNWICK_BENCH)" >&2; exit 1; }
llvm=${LLVM_LIBRARY:-$(ls /usr/lib/*/libLLVM-*.so.1 2>/dev/null | sort -V | tail -n 1)}
[[ -f $llvm ]] || { echo "$0: no LLVM library found (set LLVM_LIBRARY)" >&2; exit 1; }
mkdir -p "$dir"

# The generated files, made once.
libs=$dir/libs-312M
text=$dir/text-100M
wide=$dir/wide-100M
if [[ ! -s $libs ]]; then
    find /usr/lib -name '*.so*' -type f -size +1M -print0 2>/dev/null | sort -z |
        xargs -0 cat 2>/dev/null | head -c $((312 << 20)) >"$libs" || true
fi
if [[ ! -s $text ]]; then
    find /usr/include /usr/share/doc /usr/share/perl /usr/lib/python3* -type f \
        \( -name '*.h' -o -name '*.py' -o -name '*.pm' -o -name '*.txt' \) -print0 2>/dev/null |
        sort -z | xargs -0 cat 2>/dev/null | head -c $((100 << 20)) >"$text" || true
fi
if [[ ! -s $wide ]]; then
    head -c $((100 << 20)) < <(yes A | tr '\n' '\0') >"$wide" || true
fi

now_us() { local t=${EPOCHREALTIME/./}; echo "$t"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
    END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }

# Whole processes: A and B in turn, RUNS pairs; prints the medians and the median ratio.
paired() {
    local label=$1 target=$2 a=$3 b=$4 i t0 t1 ta tb
    local -a as=() bs=() rs=()
    bash -c "$a" >/dev/null 2>&1
    bash -c "$b" >/dev/null 2>&1
    for ((i = 0; i < runs; ++i)); do
        t0=$(now_us); bash -c "$a" >/dev/null 2>&1; t1=$(now_us); ta=$((t1 - t0))
        t0=$(now_us); bash -c "$b" >/dev/null 2>&1; t1=$(now_us); tb=$((t1 - t0))
        as+=("$ta") bs+=("$tb")
        rs+=("$(awk -v a="$ta" -v b="$tb" 'BEGIN { printf "%.4f", a / b }')")
    done
    report "$label" "$target" "$(median "${rs[@]}")" "$(ms "$(median "${as[@]}")") ms" \
        "$(ms "$(median "${bs[@]}")") ms" "$a" "$b"
}

# A program's own time (KEY in its output, in ms) for two sets of its arguments, in turn.
own_paired() {
    local label=$1 target=$2 program=$3 key=$4 file=$5 a=$6 b=$7 i sa sb
    local -a as=() bs=() rs=()
    "$program" "$file" $a >/dev/null
    for ((i = 0; i < runs; ++i)); do
        sa=$("$program" "$file" $a | awk -F': ' -v k="$key" '$1 == k { print $2 }')
        sb=$("$program" "$file" $b | awk -F': ' -v k="$key" '$1 == k { print $2 }')
        as+=("$sa") bs+=("$sb")
        rs+=("$(awk -v a="$sa" -v b="$sb" 'BEGIN { printf "%.4f", a / b }')")
    done
    report "$label" "$target" "$(median "${rs[@]}")" "$(median "${as[@]}") ms" \
        "$(median "${bs[@]}") ms" "$(basename "$program") FILE $a ($key)" \
        "$(basename "$program") FILE $b ($key)"
}

# The bench's own scan_ms for two sets of its arguments, in turn.
scan_paired() { own_paired "$1" "$2" "$bench" scan_ms "$3" "$4" "$5"; }

report() {
    printf '%-58s %-9s %7sx   (%s against %s)\n' "$1" "$2" "$(awk -v r="$3" 'BEGIN { printf "%.2f", r }')" "$4" "$5"
    printf '    A: %s\n    B: %s\n' "$6" "$7"
}

rows_of() { "$bench" "$@" | awk -F': ' '$1 == "rows" { print $2 }'; }
# The bytes of new memory the listing of a file takes: its rows and their texts.
listing_of() {
    "$bench" "$1" | awk -F': ' '$1 == "rows" { r = $2 } $1 == "row_bytes" { b = $2 }
        $1 == "arena_bytes" { a = $2 } END { printf "%.0f\n", a + r * b }'
}
# Whether the floor runs on FILE with LISTING_BYTES; says why not when it does not.
floor_runs() {
    local out
    [[ -x $floor ]] || return 1
    if ! out=$("$floor" "$1" "$2" 2>&1 >/dev/null); then
        echo "    floor: failed: $out"
        return 1
    fi
}
# The floor under a whole-process target: FILE against the target's own command.
floor_of() {
    local file=$1 against=$2 n
    n=$(listing_of "$file")
    floor_runs "$file" "$n" || return 0
    paired "    floor: read, classified, listing's memory, no rows" "" \
        "'$floor' '$file' $n" "$against"
}

echo "tarnwick compare: $runs paired runs each, medians; $(nproc) processors; $(date -u +%F)"
echo "files: $llvm ($(stat -c %s "$llvm") bytes, $(rows_of "$llvm") rows);" \
    "$libs ($(stat -c %s "$libs") bytes, $(rows_of "$libs") rows);" \
    "$text ($(stat -c %s "$text") bytes, $(rows_of "$text") rows)"
printf '%-58s %-9s %8s\n' "measure" "target" "ratio"
paired "LLVM library, whole process, against cat" "<= 1.2x" \
    "'$bench' '$llvm'" "cat '$llvm' > /dev/null"
floor_of "$llvm" "cat '$llvm' > /dev/null"
paired "312 MB of libraries, whole process, against cat" "<= 1.2x" \
    "'$bench' '$libs'" "cat '$libs' > /dev/null"
floor_of "$libs" "cat '$libs' > /dev/null"
paired "100 MB of text, whole process, against wc -l" "<= 3x" \
    "'$bench' '$text'" "wc -l '$text'"
floor_of "$text" "wc -l '$text'"
scan_paired "312 MB of libraries, scan time, 1 thread against 2" ">= 1.7x" "$libs" \
    "--threads 1" "--threads 2"
n=$(listing_of "$libs")
if floor_runs "$libs" "$n"; then
    own_paired "    floor: read, classified, listing's memory, no rows" "" "$floor" floor_ms \
        "$libs" "$n --threads 1" "$n --threads 2"
fi
scan_paired "100 MB of A\\0, minimum 100 against 10" "<= 2x" "$wide" "--min 100" "--min 10"
scan_paired "100 MB of A\\0 with UTF-16, minimum 100 against 10" "<= 2x" "$wide" \
    "--min 100 --utf16" "--min 10 --utf16"
paired "GNU strings -a -n 10 -t x against the LLVM library's scan" ">= 10x" \
    "strings -a -n 10 -t x '$llvm' > /dev/null" "'$bench' '$llvm'"
paired "LLVM library, UTF-16 on against off, whole process" "<= 1.2x" \
    "'$bench' '$llvm' --utf16" "'$bench' '$llvm'"

# The window, from launch to " - Done" on the 312 MB file.
timer=${TARNWICK_LAUNCH_TIMER:-$root/build/bench/tarnwick_launch_timer}
if [[ -n ${DISPLAY:-} && -x $window ]] && { [[ -x $timer ]] || command -v xdotool >/dev/null; }; then
    launch=$("$root/bench/startup.sh" "$window" "Tarnwick - Done" "$runs" "$libs" | tail -n 1)
    printf '%-58s %-9s %s\n' "window, launch to \" - Done\", 312 MB of libraries" "< 150 ms" "$launch"
    echo "    bench/startup.sh $window \"Tarnwick - Done\" $runs $libs"
else
    echo "window, launch to \" - Done\": skipped (no \$DISPLAY, no launch timer nor xdotool, or no $window)"
fi
