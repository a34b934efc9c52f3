# Sourced by run.sh and growth.sh: builds fixcalc (Release) in build-bench/
# and sets root, build, and commit (the checkout's, marked when the sources
# differ from it).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIXCALC_TESTS=OFF >/dev/null
cmake --build "$build" --target fixcalc >/dev/null
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no -- src CMakeLists.txt cmake 2>/dev/null)" ]; then
  commit="$commit (sources modified)"
fi
