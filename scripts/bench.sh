#!/usr/bin/env bash
# Builds the benchmarks in Release (in build-bench) and runs them on a virtual
# display. Prints tables of figures, each next to a floor measured in the
# same run or to its goal; docs/performance.md explains them. Takes about two
# minutes.
#
#   scripts/bench.sh                   everything
#   scripts/bench.sh --quick           a short smoke run with fewer repetitions
#   scripts/bench.sh --only PART       one part: startup, link, idle, scale, refresh or journal (may repeat)
#
# The figures are not pass/fail: a busy machine changes them. Run it on a
# quiet machine and compare ratios rather than absolute times.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

case "${1:-}" in
-h | --help) header_help scripts/bench.sh; exit 0 ;;
esac

scripts/deps.sh bench
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKESMAR_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target kesmarbench >/dev/null

# A display of its own, so the start-up and idle figures under X do not depend
# on the desktop the script is started from.
# A session bus of its own too, so that the start-up figures include
# registering the scripting interface.
exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$build/bench/kesmarbench" "$@"
