#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvane needs to build, test and run; does nothing when
# they are all there already.
set -euo pipefail

# The last line: building the Debian package and checking it and its menu entries.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libegl-dev libxkbcommon-dev libqt6sql6-sqlite libsqlite3-dev dbus iproute2
          dpkg-dev file lintian desktop-file-utils appstream)

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
