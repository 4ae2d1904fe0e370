#!/usr/bin/env bash
# Builds and runs the benchmarks: the module's cost per frame against a
# baseline that makes the same host calls, the flight host's speed on the
# default descent, the Monte-Carlo throughput, and a timed 10,000-run
# campaign. Set VTAL_BUILD_DIR to use another build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build="${VTAL_BUILD_DIR:-build/release}"
jobs=$(nproc)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target vtal_module_bench vtal_flight_bench vtal_live_bench vtal-sim

echo
echo "== Module frame cost: lander in the terminal band against the baseline (aim: within 2x)"
"$build/bench/vtal_module_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

echo
echo "== Flight host: default descent (aim: at least 10,000x real time) and Monte-Carlo throughput"
# Five repetitions, their median and spread: on a shared machine single runs
# of a few milliseconds scatter by a tenth and more.
"$build/bench/vtal_flight_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

echo
echo "== Live session: the host's work per frame at 1x, the warp sustained, a key's frames to the module"
"$build/bench/vtal_live_bench"

echo
echo "== A 10,000-run campaign of the default dispersions on $jobs cores (aim: under a minute)"
TIMEFORMAT="10,000 runs in %R s of wall-clock time"
time "$build/bin/vtal-sim" montecarlo --runs 10000 --jobs "$jobs" --no-progress >/dev/null

echo
echo "== The replay page of a 600 s two-lander flight (aims: under 10 MB, open in under 2 s)"
cmake --build "$build" -j "$jobs" --target vtal_viewer
NODE_PATH="$build/viewer/npm/node_modules" node bench/replay_page_bench.cjs "$build/bin/vtal-sim" /usr/bin/chromium
