#!/usr/bin/env bash
# The libraries and the program built with Debian's clang as well, warnings as errors: a second
# compiler's warnings keep the code to the language rather than to what GCC lets pass. The build
# folder is kept, so that a later run rebuilds only what changed.
#
#   clang_build.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1 build_dir=$2
if ! command -v clang++ >/dev/null; then
  echo "SKIP: clang++ is missing; ./test installs it (Debian package clang)"
  exit 77
fi
# Unoptimised and without debug information: the warnings are wanted, not the code.
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
  -DCMAKE_CXX_FLAGS= -DZELKGEN_WERROR=ON -DZELKGEN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir"
