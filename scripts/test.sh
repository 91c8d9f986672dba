#!/usr/bin/env bash
# Builds the project and runs every test: the whole suite in a normal build,
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run
# of the frame decoder's fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
here=$(pwd)

echo "== Build and test"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESMAR_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESMAR_WERROR=ON \
    -DKESMAR_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:fast_unwind_on_malloc=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

if [[ -x scripts/fuzz.sh ]]; then
    echo "== Fuzz the frame decoder"
    scripts/fuzz.sh 60
fi
