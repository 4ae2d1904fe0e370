#!/usr/bin/env bash
# Builds and runs the benchmarks: the module's cost per frame against a
# baseline that makes the same host calls, the flight host's speed on the
# default descent, the Monte-Carlo throughput, and a timed 10,000-run
# campaign against its frames' own time. Set VTAL_BUILD_DIR to use another
# build folder (default build/release). Set VTAL_BESIDE_DIR to a build of an
# earlier commit (built already, with vtal-sim and vtal_flight_bench) to
# measure the campaign figures of both, alternately, in the same run.
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
# The campaign's throughput (descents per second per core with one worker,
# the median of three) and a timed 10,000-run campaign of the default
# dispersions on all cores against its frames' own time: the default
# descent's frame loop (median of five) for each of the 10,000 runs, shared
# by the cores. The campaign may exceed it by a quarter at most
# (frames / campaign >= 0.8).
campaign_figures() {
  local b=$1 frame_ms start end per_core
  per_core=$("$b/bench/vtal_flight_bench" --benchmark_filter='BM_MonteCarloCampaign/1/' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null |
    python3 -c 'import json, sys
b = next(b for b in json.load(sys.stdin)["benchmarks"] if b.get("aggregate_name") == "median")
print(b.get("descents_per_second_per_core", b.get("descents_per_second")))')
  frame_ms=$("$b/bench/vtal_flight_bench" --benchmark_filter='BM_DefaultDescentFrames/4800/' \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null |
    python3 -c 'import json, sys
print(next(b["real_time"] for b in json.load(sys.stdin)["benchmarks"] if b.get("aggregate_name") == "median"))')
  start=$(date +%s.%N)
  "$b/bin/vtal-sim" montecarlo --runs 10000 --jobs "$jobs" --no-progress >/dev/null
  end=$(date +%s.%N)
  python3 -c 'import sys
b, per_core, frame_ms, cores, start, end = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6])
campaign = end - start
frames = frame_ms * 1e-3 * 10000 / cores
print(f"{b}: {per_core:.0f} descents/s per core with one worker; 10,000 runs in {campaign:.2f} s of wall-clock "
      f"time, their frames alone {frames:.2f} s (frame loop {frame_ms:.2f} ms x 10,000 / {cores} cores); "
      f"frames / campaign = {frames / campaign:.2f} (aim: at least 0.80, i.e. at most {frames / 0.8:.2f} s)")' \
    "$b" "$per_core" "$frame_ms" "$jobs" "$start" "$end"
  echo "  load average while measuring: $(cut -d' ' -f1-3 /proc/loadavg)"
}

beside="${VTAL_BESIDE_DIR:-}"
if [ -z "$beside" ]; then
  echo "== The campaign: descents per second per core, and 10,000 runs on $jobs cores against their frames' own time"
  campaign_figures "$build"
else
  echo "== The campaign, this build beside $beside, alternately, three rounds"
  for round in 1 2 3; do
    for b in "$beside" "$build"; do campaign_figures "$b"; done
  done
fi

echo
echo "== The replay page of a 600 s two-lander flight (aims: under 10 MB, open in under 2 s)"
cmake --build "$build" -j "$jobs" --target vtal_viewer
NODE_PATH="$build/viewer/npm/node_modules" node bench/replay_page_bench.cjs "$build/bin/vtal-sim" /usr/bin/chromium
