#!/usr/bin/env bash
# Builds the libFuzzer target and fuzzes the interpreter on one core:
#   scripts/fuzz.sh [SECONDS]
# Seeds: tests/fuzz/corpus, the whole-program cases and the examples of the
# repository, and the shared conformance cases beside it (read in place). New
# inputs go to build-fuzz/corpus; crashes, hangs, leaks and sanitizer reports
# to build-fuzz/artifacts. Each finding becomes an input in
# tests/fuzz/regressions (or a whole-program case) together with its fix.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-600}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DFIXCALC_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target fuzz_run
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds" build-fuzz/corpus build-fuzz/artifacts
for f in tests/cases/*.in examples/*.in ../shared/conformance/*/*.in; do
  [ -e "$f" ] || continue
  ln -s "$(realpath "$f")" "$seeds/$(basename "$(dirname "$f")")-$(basename "$f")"
done
exec build-fuzz/tests/fuzz/fuzz_run build-fuzz/corpus tests/fuzz/corpus "$seeds" \
  -dict=tests/fuzz/fixcalc.dict -max_total_time="$secs" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1
