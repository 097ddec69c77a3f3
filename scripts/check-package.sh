#!/usr/bin/env bash
# Builds the Debian package in a release build and checks it: the menu entries and the
# AppStream metainfo as installed, and lintian on the package (no errors allowed).
set -euo pipefail
cd "$(dirname "$0")/.."

# The package names whoever builds it as its maintainer (DEBFULLNAME, DEBEMAIL). A check run
# by nobody in particular names the check, at an address under .invalid, the domain reserved
# for addresses that reach no one: this package only goes to lintian.
export DEBFULLNAME=${DEBFULLNAME:-Package check}
export DEBEMAIL=${DEBEMAIL:-package-check@$(hostname -s).invalid}
cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_WERROR=ON \
      -DQUORVANE_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build-deb

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
DESTDIR="$staging" cmake --install build-deb
desktop-file-validate "$staging"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$staging"/usr/share/metainfo/*.metainfo.xml

rm -f build-deb/quorvane_*.deb
(cd build-deb && cpack -G DEB)
root=()
[ "$(id -u)" -ne 0 ] || root=(--allow-root)
lintian "${root[@]}" --fail-on error build-deb/quorvane_*.deb
echo "Package: $(ls build-deb/quorvane_*.deb)"
