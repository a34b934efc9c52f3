#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and times it against `bc -l` and
# Python's decimal; prints a markdown table (progress goes to stderr).
# Usage: bash bench/run.sh [--runs N] [--cap SECONDS] [--digits D,D,...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIXCALC_TESTS=OFF >/dev/null
cmake --build "$build" --target fixcalc >/dev/null
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit (working tree modified)"
fi
exec python3 "$root/bench/bench.py" "$build/fixcalc" --commit "$commit" "$@"
