#!/usr/bin/env bash
# The layers of src/, lowest first: io.h (and io.cpp), then arith/, then scan/
# and print/ side by side, then funcs/, then interp/. A file may include
# headers of its own layer and of the layers below it, never of one above.
# Every violation is reported as "FILE: includes HEADER (LAYER is above
# LAYER)", and the check fails.
# Usage: check_layers.sh [SRC_DIR]     (default: the repository's src/)
#        check_layers.sh --self-test   (the check itself, on planted includes)
set -euo pipefail

# layer PATH (relative to src/): prints the rank and the name of its layer.
layer() {
  case $1 in
    io.h | io.cpp) echo "0 io.h" ;;
    arith/*) echo "1 arith/" ;;
    scan/*) echo "2 scan/" ;;
    print/*) echo "2 print/" ;;
    funcs/*) echo "3 funcs/" ;;
    interp/*) echo "4 interp/" ;;
    *) echo "- -" ;;
  esac
}

check() {
  local src=$1 bad=0 file rel header own own_name their their_name
  while IFS= read -r -d '' file; do
    rel=${file#"$src"/}
    read -r own own_name <<<"$(layer "$rel")"
    if [ "$own" = - ]; then
      echo "$src/$rel: in no layer (io.h, arith/, scan/, print/, funcs/, interp/)"
      bad=1
      continue
    fi
    # The project's own headers are included with quotes, relative to src/.
    while IFS= read -r header; do
      read -r their their_name <<<"$(layer "$header")"
      if [ "$their" = - ]; then
        echo "$src/$rel: includes \"$header\", which is in no layer"
        bad=1
      elif [ "$their" -gt "$own" ]; then
        echo "$src/$rel: includes \"$header\" ($their_name is above $own_name)"
        bad=1
      fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
  return $bad
}

# A tree that holds to the layers passes; each planted include of a higher
# layer fails, naming the file and the include.
self_test() {
  local tmp out status=0 file header why
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' RETURN
  mkdir -p "$tmp/src"/{arith/longmult,scan,print,funcs,interp}
  printf '#include <cstdio>\n' >"$tmp/src/io.h"
  printf '#include "io.h"\n' >"$tmp/src/arith/arith.h"
  printf '#include "arith/arith.h"\n' >"$tmp/src/arith/longmult/products.h"
  printf '#include "arith/arith.h"\n#include "io.h"\n' >"$tmp/src/scan/scan.h"
  printf '#include "print/print.h"\n  #  include "scan/scan.h"\n' >"$tmp/src/print/print.cpp"
  printf '#include "print/print.h"\n' >"$tmp/src/funcs/funcs.h"
  printf '#include "funcs/funcs.h"\n#include "interp/interp.h"\n' >"$tmp/src/interp/main.cpp"
  touch "$tmp/src/print/print.h" "$tmp/src/interp/interp.h"
  out=$(check "$tmp/src") || { echo "self-test: a tree within its layers fails:"$'\n'"$out"; return 1; }
  local planted
  for planted in 'io.h:arith/arith.h:arith/ is above io.h' 'arith/longmult/products.h:funcs/funcs.h:funcs/ is above arith/' \
    'scan/scan.h:interp/interp.h:interp/ is above scan/' 'funcs/funcs.h:interp/interp.h:interp/ is above funcs/' \
    'print/print.cpp:other.h:which is in no layer'; do
    IFS=: read -r file header why <<<"$planted"
    cp "$tmp/src/$file" "$tmp/keep"
    printf '# include "%s"  // planted\n' "$header" >>"$tmp/src/$file"
    if out=$(check "$tmp/src"); then
      echo "self-test: $file including $header passes"
      status=1
    elif [[ $out != *"$tmp/src/$file: includes \"$header\""*"$why"* ]]; then
      echo "self-test: $file including $header: the message does not name them: $out"
      status=1
    fi
    mv "$tmp/keep" "$tmp/src/$file"
  done
  return $status
}

if [ "${1:-}" = --self-test ]; then
  self_test
  exit
fi
if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.."
  check src
else
  check "${1%/}"
fi
