#!/usr/bin/env bash
# Builds Rowsifter with AddressSanitizer and UBSan into build-asan/ and runs every test there
# (arguments go to ctest, as with scripts/test.sh). Any memory error, leak or undefined behaviour
# fails the test that met it. Qt, libmdb and SQLite are not instrumented; their own reports, if
# any, are suppressed in scripts/lsan.supp, each with its reason.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ROWSIFTER_BUILD_DIR=${ROWSIFTER_BUILD_DIR:-$root/build-asan}
export ROWSIFTER_CMAKE_OPTIONS="-DROWSIFTER_SANITIZE=ON ${ROWSIFTER_CMAKE_OPTIONS:-}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp:print_suppressions=0}
exec "$root/scripts/test.sh" "$@"
