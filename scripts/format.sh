#!/usr/bin/env bash
# Formats every C++ file of the project with clang-format and the project's .clang-format.
#   scripts/format.sh          rewrite the files
#   scripts/format.sh --check  only list the files that are not formatted (exit 1 when any)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! clang-format --dry-run -Werror "$f" >/dev/null 2>&1; then echo "$f"; bad=1; fi
  done
  exit $bad
fi
clang-format -i "${files[@]}"
