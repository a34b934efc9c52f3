#!/usr/bin/env bash
# Sets up, builds and runs every test: unit tests and whole-program cases.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DFIXCALC_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
