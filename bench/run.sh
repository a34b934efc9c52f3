#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and times it against its peers
# (mpmath with gmpy2, `bc -l`, Python's decimal); prints markdown tables
# (progress goes to stderr). Options are bench.py's, e.g.
#   bash bench/run.sh --runs 3 --cap 100 --before path/to/older/fixcalc
set -euo pipefail
source "$(dirname "$0")/build.sh"
exec python3 "$root/bench/bench.py" "$build/fixcalc" --commit "$commit" "$@"
