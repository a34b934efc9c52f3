#!/usr/bin/env bash
# Installs what the build and the tests need, each package only when missing.
# Runs as root (or with sudo available) on Debian. `setup.sh arm64` adds what
# scripts/test-arm64.sh needs: the cross compiler, the user-mode emulator, and
# the libraries for arm64 through Debian's multiarch (which are then missing,
# so that the package lists are read again with the new architecture).
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format libclang-rt-dev libgmp-dev libhwy-dev libgtest-dev libbenchmark-dev bc python3 groff-base tmux dpkg-dev)
# Debian's package checker, which the package's test runs.
packages+=(lintian)
if [ "${1:-}" = arm64 ]; then
  packages+=(g++-aarch64-linux-gnu qemu-user libgmp-dev:arm64 libgtest-dev:arm64 libhwy-dev:arm64)
  dpkg --print-foreign-architectures | grep -qx arm64 ||
    $([ "$(id -u)" -ne 0 ] && echo sudo) dpkg --add-architecture arm64
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
