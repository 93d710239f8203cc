#!/usr/bin/env bash
# rowsifter-cli on a PostgreSQL server against psql doing the same work, on a private server
# started here (initdb and pg_ctl in a scratch folder, a Unix socket only; as root the server
# runs as the user postgres, else nobody), stopped and removed at the end.
#
#   extraction  a table of ROWS rows (default 10,000,000) with DISTINCT distinct text values
#               (default 3,000,000), made on the server with generate_series; rowsifter-cli
#               extract with a criterion every value meets, to /dev/null, against psql running
#               the same SELECT DISTINCT with its output sent to /dev/null.
#               Goal: at most 1.2 times psql; the command line's peak memory under 100 MB.
#   export      EXPORT distinct values (default 1,000,000) written into a new table by
#               rowsifter-cli export, against psql's \copy of the same values from a file into a
#               new table in one transaction. Goal: at most twice psql.
#
# One warm-up run, then RUNS runs (default 3) of each; the median is compared.
#
#   bench/postgres_extract.sh [build folder]          (default: build; it holds rowsifter-cli)
#   ROWS=1000000 DISTINCT=300000 EXPORT=100000 RUNS=5 bench/postgres_extract.sh
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/rowsifter-cli"
rows="${ROWS:-10000000}"
distinct="${DISTINCT:-$((rows * 3 / 10))}"
export_values="${EXPORT:-$((rows / 10))}"
runs="${RUNS:-3}"
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
for tool in psql /usr/bin/time "$cli" "$bin/initdb" "$bin/pg_ctl"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

work="$(mktemp -d /tmp/rowsifter-pgbench-XXXXXX)"
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  id "$user" >/dev/null 2>&1 || user=nobody
  chown "$user" "$work"
  as_server=(runuser -u "$user" --)
fi
chmod 755 "$work"
stop() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$work/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop EXIT

"${as_server[@]}" "$bin/initdb" -D "$work/data" -U bench -A trust -E UTF8 --locale=C.UTF-8 \
  --no-sync --no-instructions >"$work/initdb.log"
"${as_server[@]}" "$bin/pg_ctl" -D "$work/data" -l "$work/server.log" -w \
  -o "-k $work -c listen_addresses='' -c fsync=off" start >/dev/null
export PGHOST="$work" PGUSER=bench PGDATABASE=postgres
psql -X -q -v ON_ERROR_STOP=1 <<SQL
CREATE TABLE big AS
  SELECT 'value ' || (i % $distinct) AS v FROM generate_series(1, $rows) i;
CREATE TABLE few AS SELECT 'value ' || i AS v FROM generate_series(1, $export_values) i;
VACUUM ANALYZE big;
VACUUM ANALYZE few;
SQL
printf 'postgresql://bench@%s/postgres\n' "$(printf '%s' "$work" | sed 's|/|%2F|g')" >"$work/bench.pgconn"
echo "server $("$bin/postgres" --version | awk '{print $3}'), $rows rows, $distinct distinct," \
  "$export_values exported; $runs runs after a warm-up"

# Runs "$@" once to warm up, then `runs` times; prints each run's seconds and peak memory, and
# leaves the median seconds in $median and the largest peak (KB) in $peak.
measure() {
  local label="$1"
  shift
  "$@" >/dev/null 2>>"$work/stderr"
  local times=() kb
  peak=0
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>>"$work/stderr"
    read -r seconds kb <"$work/time"
    times+=("$seconds")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  printf '%-28s %s s (median %s s, peak %d MB)\n' "$label" "${times[*]}" "$median" $((peak / 1024))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }

echo "== extraction"
measure "psql SELECT DISTINCT" psql -X -q -A -t -c 'SELECT DISTINCT v FROM big'
psql_median=$median
measure "rowsifter-cli extract" "$cli" extract "$work/bench.pgconn" big v -c "Contains Space(s)"
cli_median=$median
cli_peak=$peak
echo "ratio $(ratio "$cli_median" "$psql_median") (goal at most 1.2); rowsifter-cli peak" \
  "$((cli_peak / 1024)) MB (goal under 100 MB)"

echo "== export"
psql -X -q -c "\\copy (SELECT DISTINCT v FROM few) TO '$work/values.txt'"
measure "psql \\copy" psql -X -q -1 -c 'DROP TABLE IF EXISTS copied' \
  -c 'CREATE TABLE copied (v text)' -c "\\copy copied FROM '$work/values.txt'"
psql_median=$median
# psql doing all the export's work: the distinct values out of the server, then in again.
measure "psql DISTINCT out, \\copy in" bash -c "psql -X -q -c \"\\copy (SELECT DISTINCT v FROM \
few) TO '$work/out.txt'\" && psql -X -q -1 -c 'DROP TABLE IF EXISTS copied' \
-c 'CREATE TABLE copied (v text)' -c \"\\copy copied FROM '$work/out.txt'\""
whole_median=$median
measure "psql SELECT DISTINCT (few)" psql -X -q -A -t -c 'SELECT DISTINCT v FROM few'
distinct_median=$median
measure "rowsifter-cli export" "$cli" export "$work/bench.pgconn" few v exported \
  -c "Contains Space(s)" --replace
cli_median=$median
echo "ratio $(ratio "$cli_median" "$psql_median") to psql's \\copy alone (goal at most 2)," \
  "$(ratio "$cli_median" "$whole_median") to psql doing the same work;" \
  "the server's DISTINCT alone is $(ratio "$distinct_median" "$psql_median") of the \\copy;" \
  "rowsifter-cli peak $((peak / 1024)) MB"
echo "rows written: $(psql -X -A -t -c 'SELECT count(*) FROM exported') of $export_values"
