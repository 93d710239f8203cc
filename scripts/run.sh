#!/usr/bin/env bash
# Builds Rowsifter (installing what it needs) and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
exec "${ROWSIFTER_BUILD_DIR:-$root/build}/rowsifter" "$@"
