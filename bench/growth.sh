#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and runs the growth benchmark on it
# (bench/growth.py, with Debian's python3, which has python3-mpmath,
# python3-gmpy2 and python3-matplotlib): writes bench/growth.json,
# bench/GROWTH.md and bench/growth.svg. Options are growth.py's, e.g.
#   bash bench/growth.sh --runs 3 --cap 120
#   bash bench/growth.sh --runs 3 --tasks '^sqrt' --merge   # one piece of it
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIXCALC_TESTS=OFF >/dev/null
cmake --build "$build" --target fixcalc >/dev/null
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no -- src CMakeLists.txt cmake 2>/dev/null)" ]; then
  commit="$commit (sources modified)"
fi
cd "$root"
exec /usr/bin/python3 bench/growth.py build-bench/fixcalc --commit "$commit" "$@"
