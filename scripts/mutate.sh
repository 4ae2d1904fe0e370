#!/usr/bin/env bash
# Mutation testing of the module: see tools/mutate/mutate.py --help.
# Examples:
#   scripts/mutate.sh --dirs guidance scenario --budget 30
#   scripts/mutate.sh --sample 20 --seed 1 --budget 5 --min-score 80
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tools/mutate/mutate.py "$@"
