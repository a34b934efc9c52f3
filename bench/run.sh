#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and times it against its peers
# (mpmath with gmpy2, `bc -l`, Python's decimal); prints markdown tables
# (progress goes to stderr). Options are bench.py's, e.g.
#   bash bench/run.sh --runs 3 --cap 100 --before path/to/older/fixcalc
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
