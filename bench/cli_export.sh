#!/usr/bin/env bash
# Bulk export through rowsifter-cli: the distinct values of a table of ROWS rows (default
# 1,000,000, all distinct) written into a new table of the same database, an Access file (made
# by make_access_table through our writer) against a SQLite file holding the same values, in the
# same run. Each run exports into a fresh copy. Times are the median of RUNS runs (default 5)
# after a warm-up run of each.
#
#   bench/cli_export.sh [build folder]     (default: build)
#   RUNS=7 ROWS=300000 FORMAT=accdb bench/cli_export.sh
#
# Goal: the Access export at most x2.0 of the SQLite export.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/bench/lib.sh"
runs="${RUNS:-5}"
rows="${ROWS:-1000000}"
format="${FORMAT:-mdb}"
bench_start "${1:-}" sqlite3

# The same table in both: make_access_table's values, every one distinct, in its row order.
"$make_table" "$work/source.$format" "$rows" "$rows" 2>/dev/null
step=7919
while [ "$(awk "function g(a, b) { return b ? g(b, a % b) : a } BEGIN { print g($step, $rows) }")" \
  != 1 ]; do step=$((step + 2)); done
sqlite3 "$work/source.sqlite" >/dev/null <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE Customers (City TEXT);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $rows - 1)
INSERT INTO Customers
SELECT 'city' || CASE WHEN k % 2 = 0 THEN ' ' ELSE '-' END || printf('%06d', k) || '-' ||
          substr('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ', 1, 10 + k % 40)
FROM (SELECT (i * $step) % $rows AS k FROM n);
SQL

export_into() {  # the file to export into, a copy of the source made before each run
  prepare="rm -f '$work/x.$1'; cp '$work/source.$1' '$work/x.$1'"
  median_run "$cli" export "$work/x.$1" Customers City Results -c "Does not contain Tab(s)" \
    --no-progress
}
export_into sqlite
sqlite_time=$median_time sqlite_kb=$median_kb
sqlite_rows=$(sqlite3 "$work/x.sqlite" "SELECT count(*) FROM Results")
export_into "$format"
access_time=$median_time access_kb=$median_kb
access_rows=$("$cli" extract "$work/x.$format" Results City -c "Does not contain Tab(s)" \
  --no-progress | wc -l)

echo "export of $rows distinct values into a new table (median of $runs runs after a warm-up," \
  "a fresh copy each run)"
printf '%-34s %7s s %8s KiB peak  (%s rows written)\n' "SQLite file" "$sqlite_time" "$sqlite_kb" \
  "$sqlite_rows"
printf '%-34s %7s s %8s KiB peak  (%s rows written)\n' "Access file (.$format)" "$access_time" \
  "$access_kb" "$access_rows"
echo "time: $(ratio "$access_time" "$sqlite_time") of the SQLite export (goal: at most x2.0):" \
  "$(verdict "$access_time" "$(awk "BEGIN { print 2 * $sqlite_time }")")"
