#!/usr/bin/env bash
# Extraction through rowsifter-cli from an Access table of 1,000,000 rows (one text field,
# 300,000 distinct values, made here by make_access_table through our writer) against mdb-export
# writing the whole table as CSV. Prints the time of every run, the best of each and their ratio.
#
#   bench/access_extract.sh [build folder]   (default: build; it holds rowsifter-cli and
#                                            make_access_table)
#   RUNS=5 ROWS=100000 FORMAT=accdb bench/access_extract.sh build-mine
#
# Goal: the extraction under 1.5 times mdb-export.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/rowsifter-cli"
make_table="$build/make_access_table"
runs="${RUNS:-3}"
rows="${ROWS:-1000000}"
format="${FORMAT:-mdb}"
for tool in mdb-export /usr/bin/time "$cli" "$make_table"; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
db="$work/bench.$format"
"$make_table" "$db" "$rows"

# Elapsed seconds of each of `runs` runs of "$@" on one line, then the best on the next.
times() {
  local all="" best=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e' -o "$work/time" "$@" >"$work/out" 2>/dev/null
    t=$(tail -n 1 "$work/time")
    all="$all $t"
    if [ -z "$best" ] || awk "BEGIN { exit !($t < $best) }"; then best=$t; fi
  done
  echo "$all"
  echo "$best"
}

{ read -r export_all; read -r export_best; } < <(times mdb-export "$db" Customers)
export_lines=$(wc -l <"$work/out")
{ read -r extract_all; read -r extract_best; } < <(times "$cli" extract "$db" Customers City \
  -c "Contains Space(s)" --no-progress)
extract_lines=$(wc -l <"$work/out")

echo "table: $rows rows of one text field in a new .$format file of $(stat -c %s "$db") bytes"
printf '%-48s runs:%s  best %s s\n' "mdb-export ($export_lines lines)" "$export_all" "$export_best"
printf '%-48s runs:%s  best %s s\n' "rowsifter-cli extract ($extract_lines values)" \
  "$extract_all" "$extract_best"
awk "BEGIN { printf \"ratio: x%.2f of mdb-export (goal: under x1.5)\n\", $extract_best / $export_best }"
