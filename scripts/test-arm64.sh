#!/usr/bin/env bash
# The tests on 64-bit ARM, without an ARM machine: sets up the cross compiler,
# the user-mode emulator and the arm64 libraries (scripts/setup.sh arm64),
# cross-builds into build-arm64 with cmake/aarch64-linux-gnu.cmake, and runs
# under qemu-aarch64 the unit tests (the differential tests of every kernel
# among them) and the whole-program cases: tests/cases, examples, the
# conformance cases of ../shared, the hostile inputs, the independent values,
# the command line and the manual page. A cross build leaves out what cannot
# run under the emulator (tests/CMakeLists.txt says which and why).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh arm64
cmake -S . -B build-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DFIXCALC_WERROR=ON >/dev/null
cmake --build build-arm64

# The emulated processor (qemu's QEMU_CPU) decides which vector units the
# program finds, and with Highway's dispatch which kernels run: every test on
# the richest one; the unit tests of the SVE kernels also at the two vector
# lengths that have kernels of their own; on one without SVE every test but
# those that no processor changes (the plain kernels' rows, the command line
# and the manual page), which the first run has passed.
#   max                               SVE2, SVE (512-bit vectors), NEON
#   max,sve-default-vector-length=32  SVE at 256 bits (Highway's SVE_256)
#   max,sve-default-vector-length=16  SVE2 at 128 bits (Highway's SVE2_128)
#   neoverse-n1                       NEON only (Graviton 2, Ampere Altra)
# A test that runs past five minutes fails instead of holding the run.
run() {
  echo "== QEMU_CPU=$1 ${*:2}"
  QEMU_CPU=$1 ctest --test-dir build-arm64 --output-on-failure -j2 --timeout 300 "${@:2}"
}
run max
run max,sve-default-vector-length=32 -L unit -R sve
run max,sve-default-vector-length=16 -L unit -R sve
run neoverse-n1 -E '_plain|^program/'
