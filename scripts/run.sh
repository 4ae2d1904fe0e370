#!/usr/bin/env bash
# Builds the lander module and the flight host, then flies the shipped
# default descent with vtal-sim and prints its report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target vtal-sim
build/release/bin/vtal-sim "$@"
