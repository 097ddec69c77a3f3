#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvane needs to build, test and run (the list is
# scripts/packages); does nothing when they are all there already.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t packages < <(sed 's/#.*//' scripts/packages | xargs -n1)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
