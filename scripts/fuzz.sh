#!/usr/bin/env bash
# Builds the scenario fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time, starting from
# the seed corpus kept in the repository. Exits non-zero on any crash, failed
# check or sanitizer report; the failing input is left in the build folder.
#
#   scripts/fuzz.sh [seconds]      (default 60; also VTAL_FUZZ_SECONDS)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${VTAL_FUZZ_SECONDS:-60}}
build=${VTAL_FUZZ_BUILD_DIR:-build/fuzz}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVTAL_FUZZ=ON -DVTAL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target vtal_scenario_fuzzer

# New inputs go to a scratch corpus; the seeds in the repository stay as they are.
work="$build/fuzz-work"
mkdir -p "$work/corpus" "$work/artifacts"

echo "== Fuzzing the scenario reader for ${seconds} s"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  "$build/fuzz/vtal_scenario_fuzzer" \
    -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -dict=fuzz/scenario.dict -artifact_prefix="$work/artifacts/" \
    "$work/corpus" fuzz/corpus/scenario
