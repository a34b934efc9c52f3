# Cross build for 64-bit ARM (aarch64) on Debian, with the arm64 libraries of
# multiarch (libgmp-dev:arm64, libgtest-dev:arm64, libhwy-dev:arm64, which
# scripts/setup-arm64.sh installs), and the tests run under qemu-aarch64:
#   cmake -S . -B build-arm64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# scripts/test-arm64.sh builds and runs everything this way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch keeps the arm64 libraries, headers and CMake package files in
# /usr/lib/aarch64-linux-gnu and /usr/include/aarch64-linux-gnu, beside those
# of the build machine: the library architecture makes find_library,
# find_path and find_package look there, and never in the x86-64 folders.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# Programs (python3, gzip, the shell) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The programs built here run under the user-mode emulator: ctest runs tests
# through it, and gtest_discover_tests lists the unit tests with it. They load
# the arm64 C library of multiarch (libc6:arm64, which libgmp10:arm64 depends
# on) with its own loader, /lib/ld-linux-aarch64.so.1. No -L prefix: with
# /usr/aarch64-linux-gnu the emulator would take the loader from the cross
# compiler's copy of the C library, a release apart from the multiarch one
# that the same program's libc.so.6 still comes from.
find_program(QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_AARCH64})
