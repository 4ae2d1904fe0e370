#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer with the float-cast check) and runs each for a
# bounded time, as many side by side as there are cores, starting from the
# seed corpora kept in the repository:
#   - the lander's own scenario lines (corpus/scenario, scenario.dict),
#   - whole scenario files through the flight host's reader (corpus/scenario_file),
#   - campaign dispersion files (corpus/dispersion),
#   - vtal-sim's flight command line, arguments separated by NUL bytes
#     (corpus/command_line, command_line.dict).
# Exits non-zero on any crash, failed check or sanitizer report; the failing
# input is left in the build folder.
#
#   scripts/fuzz.sh [seconds per target]      (default 60; also VTAL_FUZZ_SECONDS)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${VTAL_FUZZ_SECONDS:-60}}
build=${VTAL_FUZZ_BUILD_DIR:-build/fuzz}
jobs=${VTAL_BUILD_JOBS:-$(nproc)}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DVTAL_FUZZ=ON -DVTAL_BUILD_TESTS=OFF
cmake --build "$build" -j "$jobs" \
  --target vtal_scenario_fuzzer vtal_scenario_file_fuzzer vtal_dispersion_fuzzer vtal_command_line_fuzzer

# fuzz TARGET CORPUS [libFuzzer options...]: one target's bounded run, its
# output in its work folder and its exit status in status.
fuzz() {
  local target=$1 corpus=$2
  shift 2
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  local work="$build/fuzz-work/$target"
  rm -rf "$work/artifacts" "$work/status"
  mkdir -p "$work/corpus" "$work/artifacts"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/fuzz/$target" \
      -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" "$@" \
      "$work/corpus" "$corpus" > "$work/log" 2>&1
  echo $? > "$work/status"
  set -e
}

# Each target is one process: as many run side by side as there are cores,
# each for the full time.
targets=(vtal_scenario_fuzzer vtal_scenario_file_fuzzer vtal_dispersion_fuzzer vtal_command_line_fuzzer)
run() {
  case $1 in
    vtal_scenario_fuzzer) fuzz "$1" fuzz/corpus/scenario -max_len=4096 -dict=fuzz/scenario.dict ;;
    vtal_scenario_file_fuzzer) fuzz "$1" fuzz/corpus/scenario_file -max_len=8192 -dict=fuzz/scenario.dict ;;
    vtal_dispersion_fuzzer) fuzz "$1" fuzz/corpus/dispersion -max_len=4096 ;;
    vtal_command_line_fuzzer) fuzz "$1" fuzz/corpus/command_line -max_len=2048 -dict=fuzz/command_line.dict ;;
  esac
}
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  echo "== Fuzzing $target for ${seconds} s"
  run "$target" &
  running=$((running + 1))
done
wait

failed=0
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  echo "== $target"
  cat "$work/log"
  status=$(cat "$work/status" 2>/dev/null || echo 1)
  if [ "$status" != 0 ]; then
    echo "fuzz: $target failed (exit $status); its input is in $work/artifacts/"
    failed=1
  fi
done
exit "$failed"
