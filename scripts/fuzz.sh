#!/usr/bin/env bash
# Fuzzes the frame decoder with libFuzzer for the given number of seconds
# (default 30). Builds fuzz/ with clang into build-fuzz/, starts from the
# seed corpus in fuzz/corpus/ (read only; new inputs go to build-fuzz/corpus/)
# and exits non-zero on a finding, which is saved as build-fuzz/crash-*.
#
#   scripts/fuzz.sh [seconds]
#   scripts/fuzz.sh --seed-corpus    rewrite fuzz/corpus/ from make_corpus
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j 2 >/dev/null

if [[ "${1:-}" == "--seed-corpus" ]]; then
    rm -f fuzz/corpus/*
    "$build/make_corpus" fuzz/corpus
    echo "seed corpus written to fuzz/corpus/"
    exit 0
fi

seconds=${1:-30}
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds] | --seed-corpus" >&2
    exit 2
fi
mkdir -p "$build/corpus"
echo "fuzzing the frame decoder for $seconds s"
"$build/fuzz_decoder" -max_total_time="$seconds" -max_len=512 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/" -print_final_stats=1 "$build/corpus" fuzz/corpus
