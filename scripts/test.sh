#!/usr/bin/env bash
# Builds and runs every test: the normal build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer with every error fatal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
# Each stage's time, so that a slow one shows in CI's log.
stage_started=$SECONDS
stage() {
  echo "   (took $((SECONDS - stage_started)) s)"
  stage_started=$SECONDS
  echo "== $1"
}

echo "== Build and test (RelWithDebInfo)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

stage "Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVTAL_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

stage "Mutation testing: a fixed sample of the module's mutants (build/mutate)"
# Fails if fewer than 80 % of the sampled mutants that compile are killed.
scripts/mutate.sh --sample 20 --seed 1 --budget 5 --min-score 80

stage "Bounded fuzz runs of the readers and the command line (clang, libFuzzer)"
scripts/fuzz.sh "${VTAL_FUZZ_SECONDS:-60}"

stage "Windows build (MinGW-w64), tests under Wine"
scripts/windows-test.sh
echo "   (took $((SECONDS - stage_started)) s; all stages $SECONDS s)"
