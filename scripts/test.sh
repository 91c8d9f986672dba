#!/usr/bin/env bash
# Builds the project and runs every test: the whole suite in a normal build on
# Qt 5, again on Qt 6, again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and a short run of the frame decoder's fuzz target. The builds and their test
# settings are the presets "test", "qt6" and "asan" of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)

echo "== Build and test on Qt 5"
cmake --preset test >/dev/null
cmake --build --preset test -j "$jobs"
ctest --preset test -j "$jobs"

echo "== Build and test on Qt 6"
cmake --preset qt6 >/dev/null
cmake --build --preset qt6 -j "$jobs"
ctest --preset qt6 -j "$jobs" -E tst_install_deb # the packages are built on Qt 5, above

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if [[ -x scripts/fuzz.sh ]]; then
    echo "== Fuzz the frame decoder"
    scripts/fuzz.sh 60
fi
