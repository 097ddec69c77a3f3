#!/usr/bin/env bash
# Builds with warnings as errors and runs the whole test suite headless, then builds and
# runs it again under AddressSanitizer and UndefinedBehaviorSanitizer; last, builds the
# Debian package and checks it and the files it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_WERROR=ON
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_WERROR=ON \
      -DQUORVANE_SANITIZE=ON
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

scripts/check-package.sh
