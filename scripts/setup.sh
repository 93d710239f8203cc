#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/debian-packages.txt that are missing,
# then configures and builds the project into build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ROWSIFTER_BUILD_DIR:-$root/build}

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$root/scripts/debian-packages.txt")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node and the mdb-reader package, which the tests use to read back the Access files we write.
# Debian's nodejs (18) and npm are enough; they are not in debian-packages.txt because a node
# from another source, where there is one, already brings its own npm and conflicts with
# Debian's.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  echo "Installing Debian packages: nodejs npm"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends nodejs npm
fi
if [ ! -d "$root/tests/node/node_modules/mdb-reader" ]; then
  npm ci --prefix "$root/tests/node" --no-audit --no-fund ||
    echo "warning: npm ci failed; the tests that read files with mdb-reader will be skipped" >&2
fi

# ROWSIFTER_CMAKE_OPTIONS: more options for the configuration (scripts/test-sanitized.sh).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${ROWSIFTER_BUILD_TYPE:-RelWithDebInfo} \
  ${ROWSIFTER_CMAKE_OPTIONS:-}
cmake --build "$build" -j"$(nproc)"
