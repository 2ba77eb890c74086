#!/usr/bin/env bash
# Working with a big listing: makes a file of 30,000,000 rows, one in ten holding
# "match NNN here", and times on its listing a regular-expression Find that marks those
# rows, Find Next from the first row to the only marked row (the last; then with the first
# row marked too, so that every row between is looked at), and Marked Rows
# Only with one row in ten marked (time and bytes per shown row). Then the pathological
# pattern (a*)*b over 30 MB of rows of "a". The files go to DIR (default /dev/shm) and are
# removed at the end.
# usage: bench/find_rows.sh TARNWICK_BENCH [DIR]
set -euo pipefail
bench=$1
dir=${2:-/dev/shm}
rows="$dir/tarnwick-rows.txt"
as="$dir/tarnwick-as.txt"
trap 'rm -f "$rows" "$as"' EXIT

# Nine plain rows, then one that matches; 30,000,000 rows in all. (yes ends on SIGPIPE.)
plain='plain text row'
yes "$(printf '%s\n' "$plain" "$plain" "$plain" "$plain" "$plain" "$plain" "$plain" "$plain" \
  "$plain" 'match 123 here')" | head -n 30000000 >"$rows" || true
yes 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaa' | head -c $((30 << 20)) >"$as" || true

echo "== 30,000,000 rows: a regular-expression Find marking one row in ten"
"$bench" "$rows" --regex 'match \d{3}' | grep -E '^(rows|regex_hits|regex_ms|peak_rss_mb):'
echo "== Find Next from the first row to the only marked row, the last"
"$bench" "$rows" --find-next | grep -E '^(find_next_row|find_next_ms|find_next_across_ms):'
echo "== Marked Rows Only with one row in ten marked"
"$bench" "$rows" --marked-only 10 | grep -E '^(marked_only_ms|marked_only_rows|marked_only_bytes_per_row):'
echo "== (a*)*b over 30 MB of rows of a"
"$bench" "$as" --regex '(a*)*b' | grep -E '^(rows|regex_hits|regex_ms):'
