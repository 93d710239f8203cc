#!/usr/bin/env bash
# Encrypted .accdb files against plain ones, in one run (rowsifter-cli, tables made by
# make_access_table through our writer, encrypted copies made by make_encrypted_copy with the
# parameters Access 2010 to 2019 use: agile, AES-256, SHA-512, spin count 100,000):
#   1. extraction ("Contains Space(s)") from a table of 1,000,000 rows, 300,000 distinct values:
#      the encrypted file (agile, and RC4 CryptoAPI) against the plain one (goal: at most x1.3);
#   2. export of 100,000 values into a new table of an encrypted file against a plain one, each
#      run on a fresh copy (goal: at most x1.5);
#   3. peak memory (maximum resident set) of an extraction that reads a whole encrypted file of
#      at least 500 MB (few distinct values, so that the figure is that of reading), next to the
#      same file plain (goal: under 100 MB).
# Times are the median of RUNS runs (default 5) after one warm-up run of each command.
#
#   bench/encrypted.sh [build folder]        (default: build)
#   RUNS=7 ROWS=1000000 BIG_ROWS=9500000 bench/encrypted.sh build
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/bench/lib.sh"
runs="${RUNS:-5}"
rows="${ROWS:-1000000}"
big_rows="${BIG_ROWS:-9500000}"
password="bench password"
bench_start "${1:-}" "${1:-$here/build}/make_encrypted_copy"
encrypt="$build/make_encrypted_copy"

# The median elapsed seconds of `runs` runs of "$@" after a warm-up run (see median_run).
median() {
  median_run "$@"
  echo "$median_time"
}

echo "== 1. extraction: $rows rows, one text field (median of $runs runs after a warm-up)"
"$make_table" "$work/plain.accdb" "$rows" 2>/dev/null
"$encrypt" "$work/plain.accdb" "$work/agile.accdb" "$password" agile
"$encrypt" "$work/plain.accdb" "$work/rc4.accdb" "$password" rc4
extract=(extract Customers City -c "Contains Space(s)" --no-progress -p "$password")
t_plain=$(median "$cli" "${extract[0]}" "$work/plain.accdb" "${extract[@]:1}")
lines=$(wc -l <"$work/out")
t_agile=$(median "$cli" "${extract[0]}" "$work/agile.accdb" "${extract[@]:1}")
t_rc4=$(median "$cli" "${extract[0]}" "$work/rc4.accdb" "${extract[@]:1}")
printf '  plain  %8.3f s  (%s values, file %s bytes)\n' "$t_plain" "$lines" \
  "$(stat -c %s "$work/plain.accdb")"
printf '  agile  %8.3f s  %s of plain (goal: at most x1.3)\n' "$t_agile" "$(ratio "$t_agile" "$t_plain")"
printf '  RC4    %8.3f s  %s of plain\n' "$t_rc4" "$(ratio "$t_rc4" "$t_plain")"

echo "== 2. export of 100,000 values into a new table (a fresh copy each run)"
"$make_table" "$work/source.accdb" 100000 2>/dev/null
"$encrypt" "$work/source.accdb" "$work/source-agile.accdb" "$password" agile
export_into=("$cli" export "$work/x.accdb" Customers City Results -c "Does not contain Tab(s)"
             --no-progress -p "$password")
prepare='rm -f "$work/x.accdb"; cp "$work/source.accdb" "$work/x.accdb"'
e_plain=$(median "${export_into[@]}")
prepare='rm -f "$work/x.accdb"; cp "$work/source-agile.accdb" "$work/x.accdb"'
e_agile=$(median "${export_into[@]}")
unset prepare
printf '  plain  %8.3f s\n' "$e_plain"
printf '  agile  %8.3f s  %s of plain (goal: at most x1.5)\n' "$e_agile" "$(ratio "$e_agile" "$e_plain")"

echo "== 3. peak memory reading a whole encrypted file of at least 500 MB"
rm -f "$work"/*.accdb
"$make_table" "$work/big.accdb" "$big_rows" 1000 2>/dev/null
"$encrypt" "$work/big.accdb" "$work/big-agile.accdb" "$password" agile
size=$(stat -c %s "$work/big-agile.accdb")
for f in big big-agile; do
  /usr/bin/time -f '%e %M' -o "$work/time" "$cli" extract "$work/$f.accdb" Customers City \
    -c "Contains Space(s)" --no-progress -p "$password" >"$work/out"
  read -r secs kb <"$work/time"
  printf '  %-10s %5d MB file: %6.1f MB peak, %.1f s, %s values\n' "$f" $((size / 1000000)) \
    "$(awk "BEGIN { print $kb / 1024 }")" "$secs" "$(wc -l <"$work/out")"
done
echo "  (goal for the encrypted file: under 100 MB)"
