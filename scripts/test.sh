#!/usr/bin/env bash
# Checks the layout of every C++ file, builds with warnings as errors and runs the whole
# test suite headless, then builds and runs it again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the tests whose code runs threads under ThreadSanitizer;
# last, builds the Debian package and checks it and the files it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Laid out as .clang-format says, by the clang-format Debian 12 ships: any other layout fails
# here, naming the file and line. `clang-format-14 -i FILE` fixes it.
git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h' |
    xargs -0 clang-format-14 --dry-run --Werror

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

# ThreadSanitizer over the tests whose code runs threads: the history writer and the reply
# requester (tst_receiver) and the name lookup (tst_dialogs). Qt then uses its own event
# dispatcher rather than GLib's, whose wake-up descriptors it would report; tests/tsan.supp
# says what of Qt the sanitizer leaves alone, and why. fork() from a threaded test (starting
# quorvane) is allowed: the child only runs exec().
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_WERROR=ON -DQUORVANE_TSAN=ON
cmake --build build-tsan --target tst_receiver tst_dialogs
QT_NO_GLIB=1 TSAN_OPTIONS="die_after_fork=0 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R '^tst_(receiver|dialogs)$'

scripts/check-package.sh
