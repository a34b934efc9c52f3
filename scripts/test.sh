#!/usr/bin/env bash
# Sets up, checks the format of the sources, builds and runs every test: unit
# tests and whole-program cases, once in the release build and once more built
# with AddressSanitizer and UndefinedBehaviorSanitizer, where any report fails
# the test that caused it; then the tests of the threads under ThreadSanitizer,
# and once more on 64-bit ARM under an emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# The sources in the house style (.clang-format); `clang-format -i FILE` fixes one.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
# No file of src/ includes a header of a higher layer (the check first checks itself).
bash scripts/check_layers.sh --self-test
bash scripts/check_layers.sh
cmake -S . -B build -G Ninja -DFIXCALC_WERROR=ON >/dev/null
cmake --build build
# A test that runs past five minutes fails instead of holding the run (the
# longest takes under 20 s, checked build included).
ctest --test-dir build --output-on-failure -j2 --timeout 300

# The checked build uses clang, whose UndefinedBehaviorSanitizer also checks
# pointer arithmetic on arrays; warnings are the first build's business.
cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DFIXCALC_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2 --timeout 300

# The threads' build: ThreadSanitizer (clang) on the fork/join's tests, the
# differential tests of the products, the series, the exponential and the
# kernels that go in halves (ADD, MULT and DIV), the whole-program cases
# and examples with two threads (the address space limits of *.ulimit left
# out, as above), and the runs at a terminal, with the progress line's and
# the signals' threads; a report ends the process that made it and fails its
# test.
cmake -S . -B build-tsan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DFIXCALC_TSAN=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan --target fixcalc fixcalc_unit
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j2 --timeout 300 \
  -R '^(ForkJoin\.|Kernels/Differential\.SameAsReference/(LONGMULT|PITO_ETO|EXP|ADD|MULT_DIV|DIV_ADD)|case/|example/|program/(session|progress|ends)$)'

# The unit tests and the whole-program cases once more on 64-bit ARM: a cross
# build, run under qemu-aarch64 (scripts/test-arm64.sh).
bash scripts/test-arm64.sh
