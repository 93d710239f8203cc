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

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${ROWSIFTER_BUILD_TYPE:-RelWithDebInfo}
cmake --build "$build" -j"$(nproc)"
