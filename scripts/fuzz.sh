#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer, AddressSanitizer, UBSan) into
# build-fuzz/ and runs each for a bounded time, from seed corpora made here: the Access files
# made by fuzz/make_seeds, the unencrypted real files of the fixtures folder, small SQLite files
# made with the sqlite3 shell, and a few statement and connection texts.
#
#   scripts/fuzz.sh [seconds per target] [target ...]
#
# Default: 15 seconds for each of the targets (the CI run). A longer run, e.g. 20 minutes each:
#   scripts/fuzz.sh 1200
# New inputs that reach new code are kept in build-fuzz/corpus/<target>/ and used again by the
# next run. A crash, a sanitizer report or a broken rule of a target fails the run; the input that
# caused it is saved as build-fuzz/findings/<target>-crash-... and `build-fuzz/fuzz/<target>
# <that file>` runs it again. Without clang++ the script says so and does nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROWSIFTER_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-15}
shift || true
all_targets=(fuzz_statement fuzz_connection_string fuzz_criteria fuzz_open_access fuzz_open_sqlite
             fuzz_export fuzz_encryption_info)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

clang=${ROWSIFTER_FUZZ_CXX:-clang++}
if ! command -v "$clang" >/dev/null 2>&1; then
  echo "*** fuzz: $clang not found: the fuzz targets are not built or run (install clang)."
  exit 0
fi

# libFuzzer and the sanitizer runtimes come with Debian's libclang-rt-<version>-dev.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
links_fuzzer() {
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$probe_dir/probe.cpp"
  "$clang" -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" -o "$probe_dir/probe" \
    >/dev/null 2>&1
}
if ! links_fuzzer; then
  version=$("$clang" -dumpversion | cut -d. -f1)
  echo "Installing Debian package: libclang-rt-$version-dev (libFuzzer)"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  { $sudo_cmd apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
      "libclang-rt-$version-dev"; } || true
  if ! links_fuzzer; then
    echo "*** fuzz: $clang cannot link a libFuzzer program: the fuzz targets are not built or run."
    exit 0
  fi
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$clang" -DROWSIFTER_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz -j"$(nproc)"

# ---- seed corpora (made afresh each run) -----------------------------------------------------
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{access,sqlite,statement,connection_string,criteria,encryption_info}
"$build/fuzz/make_seeds" "$seeds/access"
fixtures=${ROWSIFTER_FIXTURES:-$root/../shared/fixtures/access}
if [ -d "$fixtures" ]; then
  for f in "$fixtures"/*.mdb "$fixtures"/*.accdb; do
    case $(basename "$f") in
      # Encrypted: opened only with their password (each wrong one costs the key derivation);
      # their page 0 seeds the target that reads descriptions of encryption.
      *encrypt* | *rc4* | *cryptoapi* | *agile*)
        head -c 4096 "$f" >"$seeds/encryption_info/$(basename "$f")" ;;
      *) cp "$f" "$seeds/access/" && chmod u+w "$seeds/access/$(basename "$f")" ;;
    esac
  done
else
  echo "fuzz: fixtures folder $fixtures absent: Access seeds are the generated files only."
fi
if command -v sqlite3 >/dev/null 2>&1; then
  sqlite3 "$seeds/sqlite/people.sqlite" <<'SQL'
CREATE TABLE people (id INTEGER PRIMARY KEY, name TEXT, city TEXT, score REAL, photo BLOB);
INSERT INTO people VALUES (1, 'Ann  Lee', 'Zürich', 2.5, x'00ff'), (2, 'O''Brien', '表', NULL, NULL),
  (3, NULL, char(9), -1e300, x''), (4, 'ann  lee', 'ZÜRICH', 0, zeroblob(40));
CREATE INDEX people_city ON people(city);
CREATE TABLE "odd name" ("a field" TEXT, [b] INTEGER);
INSERT INTO "odd name" VALUES ('x', 1), ('y', 2);
CREATE VIEW adults AS SELECT name FROM people;
SQL
  sqlite3 "$seeds/sqlite/notes.sqlite" <<'SQL'
PRAGMA page_size = 512;
CREATE TABLE notes (k TEXT PRIMARY KEY, v TEXT) WITHOUT ROWID;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60)
  INSERT INTO notes SELECT 'key' || i, printf('%.*c', i * 7, 'v') FROM n;
SQL
  sqlite3 "$seeds/sqlite/empty.sqlite" 'CREATE TABLE t (x);'
else
  echo "fuzz: sqlite3 not found: no SQLite seeds."
fi
i=0
for s in 'SELECT * FROM `T`' 'SELECT `F` FROM `T`' 'SELECT distinct `F` FROM `T`' \
  'DROP TABLE `T`' 'CREATE TABLE `T` (`F` VARCHAR);' "insert into \`T\` values ('it''s')" \
  'CREATE TABLE [a b] (x TEXT(20), y CHAR, z VARCHAR(255));' "INSERT INTO t VALUES ('a', '', 'b')" \
  'select [x] from [y];'; do
  printf '%s' "$s" >"$seeds/statement/$((i += 1))"
done
for s in 'C:\Data\Orders.mdb' '/home/me/a;b.accdb\0p"w' "'x'.mdb\\0'pw'" \
  "Provider=P;Data Source=\"a\"\"b\";JET OLEDB:Database Password='p;w'"; do
  printf '%b' "$s" >"$seeds/connection_string/$((i += 1))"
done
for s in '\000ab\000xaby' '\020st\000Strasse st.' '\022K\000\342\204\252elvin' '\010\000A1 b' \
  '\002\303\251\000CAF\303\211'; do
  printf '%b' "$s" >"$seeds/criteria/$((i += 1))"
done

seeds_of() {
  case $1 in
    fuzz_open_access | fuzz_export) echo "$seeds/access" ;;
    fuzz_open_sqlite) echo "$seeds/sqlite" ;;
    *) echo "$seeds/${1#fuzz_}" ;;
  esac
}

# ---- the runs --------------------------------------------------------------------------------
# The targets write their database files under $TMPDIR; a folder of our own catches what a
# crashed run leaves behind.
export TMPDIR=$build/tmp
mkdir -p "$TMPDIR" "$build/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
failed=()
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  mkdir -p "$corpus"
  dict=()
  [ -f "$root/fuzz/${t#fuzz_}.dict" ] && dict=(-dict="$root/fuzz/${t#fuzz_}.dict")
  log=$build/findings/$t.log
  echo "== $t: ${seconds}s"
  if "$build/fuzz/$t" "$corpus" "$(seeds_of "$t")" "${dict[@]}" -max_total_time="$seconds" \
    -timeout=60 -rss_limit_mb=3072 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t-" >"$log" 2>&1; then
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|Done )' "$log" | tail -2 || true
  else
    tail -60 "$log"
    echo "*** fuzz: $t failed; its log is $log"
    failed+=("$t")
  fi
  rm -rf "${TMPDIR:?}"/*
done
rm -rf "$TMPDIR"
if [ ${#failed[@]} -gt 0 ]; then
  echo "*** fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: every target ran ${seconds}s without a finding."
