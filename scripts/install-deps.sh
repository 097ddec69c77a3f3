#!/usr/bin/env bash
# Installs the Debian 12 packages Quorvane needs to build, test and run; does nothing when
# they are all there already.
set -euo pipefail

# The second line: window activation on Wayland, and the headless GNOME compositor, Wayland
# plug-in and accessibility bus its test drives. Then the daemon and tools with which the
# tests announce and find people on the network. The last line: building the Debian package
# and checking it and its menu entries.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libegl-dev libxkbcommon-dev libqt6sql6-sqlite libsqlite3-dev dbus iproute2
          libwayland-dev wayland-protocols qt6-base-private-dev mutter xwayland qt6-wayland
          at-spi2-core
          avahi-daemon avahi-utils
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
