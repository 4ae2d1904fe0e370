#!/usr/bin/env bash
# Builds the lander module and shows what it exports. (The flight host that
# flies the default descent replaces this step once it exists.)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target vtal
echo "== build/release/vtal.so exports:"
nm -D --defined-only build/release/vtal.so
