#!/usr/bin/env bash
# Builds the project and runs every test: the whole suite in a normal build on
# Qt 5; on Qt 6 and under AddressSanitizer and UndefinedBehaviorSanitizer the
# suites of the program, which depend on the Qt build; and a short run of the
# frame decoder's fuzz target. The suites of the library, the frame codec, the
# simulator and the fault matrix (label "once") and the package build (label
# "install") run in the Qt 5 pass only. The builds and their test settings are
# the presets "test", "qt6" and "asan" of CMakePresets.json; with ccache
# installed (scripts/deps.sh does it) a second run compiles little.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # The same sources in another checkout hit the same cache entries.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
fi

echo "== Build and test on Qt 5"
cmake --preset test "${launcher[@]}" >/dev/null
cmake --build --preset test -j "$jobs"
ctest --preset test -j "$jobs"

echo "== Build and test on Qt 6"
cmake --preset qt6 "${launcher[@]}" >/dev/null
cmake --build --preset qt6 -j "$jobs"
ctest --preset qt6 -j "$jobs" -LE 'once|install'

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan "${launcher[@]}" >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -LE once

if [[ -x scripts/fuzz.sh ]]; then
    echo "== Fuzz the frame decoder"
    scripts/fuzz.sh 60
fi
