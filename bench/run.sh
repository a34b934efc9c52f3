#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and times it against `bc -l` and
# Python's decimal; prints a markdown table (progress goes to stderr).
# Usage: bash bench/run.sh [--runs N] [--cap SECONDS] [--digits D,D,...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIXCALC_TESTS=OFF >/dev/null
cmake --build "$build" --target fixcalc >/dev/null
exec python3 "$root/bench/bench.py" "$build/fixcalc" "$@"
