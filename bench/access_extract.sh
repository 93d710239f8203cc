#!/usr/bin/env bash
# Extraction through rowsifter-cli from an Access table of 1,000,000 rows (one text field,
# 300,000 distinct values, made here by make_access_table through our writer) against
# mdb-export writing the whole table as CSV, in the same run. Times and peak memory are the
# median of RUNS runs (default 7) after a warm-up run of each command.
#
#   bench/access_extract.sh [build folder]   (default: build; it holds rowsifter-cli and
#                                            make_access_table)
#   RUNS=9 ROWS=1000000 DISTINCT=1000000 FORMAT=accdb bench/access_extract.sh build-mine
#
# Goals: the extraction ("Contains Space(s)", half the values) at most x1.0 of mdb-export's time
# (stretch: x0.5); its peak memory at most twice the bytes of the distinct values plus 10 MB.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/bench/lib.sh"
runs="${RUNS:-7}"
rows="${ROWS:-1000000}"
distinct="${DISTINCT:-300000}"
format="${FORMAT:-mdb}"
bench_start "${1:-}" mdb-export
db="$work/bench.$format"
"$make_table" "$db" "$rows" "$distinct" 2>/dev/null

# The bytes of the distinct values: every value, one a line, less the line ends.
"$cli" extract "$db" Customers City -c "Does not contain Tab(s)" --no-progress >"$work/all"
distinct_count=$(wc -l <"$work/all")
distinct_bytes=$(($(wc -c <"$work/all") - distinct_count))
limit_kb=$(((2 * distinct_bytes + 10 * 1000 * 1000) / 1024))

median_run mdb-export "$db" Customers
export_time=$median_time export_kb=$median_kb
export_lines=$(wc -l <"$work/out")
median_run "$cli" extract "$db" Customers City \
  -c "Contains Space(s)" --no-progress
extract_time=$median_time extract_kb=$median_kb
extract_lines=$(wc -l <"$work/out")

echo "table: $rows rows of one text field, $distinct_count distinct values ($distinct_bytes bytes)," \
  "in a new .$format file of $(stat -c %s "$db") bytes; median of $runs runs after a warm-up"
printf '%-46s %7s s %8s KiB peak\n' "mdb-export, whole table ($export_lines lines)" \
  "$export_time" "$export_kb"
printf '%-46s %7s s %8s KiB peak\n' "rowsifter-cli extract ($extract_lines values)" \
  "$extract_time" "$extract_kb"
echo "time:   $(ratio "$extract_time" "$export_time") of mdb-export (goal: at most x1.0," \
  "stretch x0.5): $(verdict "$extract_time" "$export_time")"
echo "memory: $extract_kb KiB against at most $limit_kb KiB (twice the distinct bytes + 10 MB):" \
  "$(verdict "$extract_kb" "$limit_kb")"
