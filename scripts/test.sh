#!/usr/bin/env bash
# Builds Rowsifter (installing what it needs) and runs every test, windows headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen
# In CI the tests that need a private PostgreSQL server fail, rather than skip, without one.
if [ -n "${CI:-}" ]; then export ROWSIFTER_REQUIRE_SERVER=1; fi
cd "${ROWSIFTER_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j"$(nproc)" "$@"
