#!/usr/bin/env bash
# Installs what the build and the tests need, each package only when missing.
# Runs as root (or with sudo available) on Debian.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format libclang-rt-dev libgmp-dev libhwy-dev libgtest-dev libbenchmark-dev bc python3 groff-base tmux dpkg-dev)
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
