#!/usr/bin/env bash
# Builds fixcalc (Release) in build-bench/ and runs the growth benchmark on it
# (bench/growth.py, with Debian's python3, which has python3-mpmath,
# python3-gmpy2 and python3-matplotlib): writes bench/growth.json,
# bench/GROWTH.md and bench/growth.svg. Options are growth.py's, e.g.
#   bash bench/growth.sh --runs 3 --cap 120
#   bash bench/growth.sh --runs 3 --tasks '^sqrt' --merge   # one piece of it
set -euo pipefail
source "$(dirname "$0")/build.sh"
cd "$root"
exec /usr/bin/python3 bench/growth.py build-bench/fixcalc --commit "$commit" "$@"
