#!/usr/bin/env bash
# Extraction through rowsifter-cli against the sqlite3 shell running the same DISTINCT query
# alone, on a SQLite table of 1,000,000 rows with 300,000 distinct text values made here.
# Prints the median of RUNS runs (default 7) of each after a warm-up, their ratio, and the peak
# memory (maximum resident set from /usr/bin/time) next to the bytes of the distinct values.
#
#   bench/cli_extract.sh [build folder]     (default: build; the folder holds rowsifter-cli)
#
# Goals: every value out ("Does not contain Tab(s)") in at most the sqlite3 shell's time (x1.0);
# peak memory at most twice the bytes of the distinct values plus 10 MB (the program's own start
# takes about 10 MB), as for Access files.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/bench/lib.sh"
runs="${RUNS:-7}"
bench_start "${1:-}" sqlite3
db="$work/bench.sqlite"

# Value k (0 <= k < 300000) is a word, a space now and then, digits and a tail whose length
# varies with k; row i holds value (i * 7919) mod 300000, so every value occurs three or four
# times, scattered over the table.
sqlite3 "$db" >/dev/null <<'SQL'
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE Customers (Id INTEGER, City TEXT);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999)
INSERT INTO Customers
SELECT i, 'city' || CASE WHEN k % 2 = 0 THEN ' ' ELSE '-' END || printf('%06d', k) || '-' ||
          substr('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ', 1, 10 + k % 40)
FROM (SELECT i, (i * 7919) % 300000 AS k FROM n);
SQL

statement='SELECT distinct `City` FROM `Customers`'
distinct_count=$(sqlite3 "$db" "SELECT count(*) FROM ($statement)")
distinct_bytes=$(sqlite3 "$db" "SELECT sum(length(City)) FROM ($statement)")
rows=$(sqlite3 "$db" "SELECT count(*) FROM Customers")

median_run sqlite3 "$db" "$statement"
base_time=$median_time base_kb=$median_kb
base_lines=$(wc -l <"$work/out")
median_run "$cli" extract "$db" Customers City -c "Does not contain Tab(s)"
all_time=$median_time all_kb=$median_kb
all_lines=$(wc -l <"$work/out")
median_run "$cli" extract "$db" Customers City -c "Contains Space(s)"
half_time=$median_time half_kb=$median_kb
half_lines=$(wc -l <"$work/out")
median_run "$cli" extract "$db" Customers City -c 8 -f json
json_time=$median_time json_kb=$median_kb

limit_kb=$(((2 * distinct_bytes + 10 * 1000 * 1000) / 1024))

echo "table: $rows rows, $distinct_count distinct values, $distinct_bytes bytes of distinct values"
printf '%-44s %8s s  %8s KiB peak\n' "sqlite3 shell, $statement" "$base_time" "$base_kb"
printf '%-44s %8s s  %8s KiB peak   time %s   memory %s of the goal\n' \
  "rowsifter-cli extract, all $all_lines match" "$all_time" "$all_kb" \
  "$(ratio "$all_time" "$base_time")" "$(ratio "$all_kb" "$limit_kb")"
printf '%-44s %8s s  %8s KiB peak   time %s   memory %s of the goal\n' \
  "rowsifter-cli extract, $half_lines match" "$half_time" "$half_kb" \
  "$(ratio "$half_time" "$base_time")" "$(ratio "$half_kb" "$limit_kb")"
printf '%-44s %8s s  %8s KiB peak   time %s\n' \
  "rowsifter-cli extract -f json, all match" "$json_time" "$json_kb" "$(ratio "$json_time" "$base_time")"
echo "median of $runs runs after a warm-up; sqlite3 printed $base_lines lines."
echo "time:   every value out in $(ratio "$all_time" "$base_time") of the sqlite3 shell (goal: at" \
  "most x1.0): $(verdict "$all_time" "$base_time")"
echo "memory: $all_kb KiB against at most $limit_kb KiB (twice the distinct bytes + 10 MB):" \
  "$(verdict "$all_kb" "$limit_kb")"
