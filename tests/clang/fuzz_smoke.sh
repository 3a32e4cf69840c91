#!/usr/bin/env bash
# Every libFuzzer target built with Debian's clang and run for a few seconds each: a target that
# no longer builds, or that finds a fault at once, fails the suite. Only the targets and what
# they link are built; the build folder is kept, so that a later run rebuilds only what changed.
#
#   fuzz_smoke.sh SOURCE_DIR BUILD_DIR [SECONDS]
set -euo pipefail
source_dir=$1 build_dir=$2 seconds=${3:-5}
if ! command -v clang++ >/dev/null; then
  echo "SKIP: clang++ is missing; ./test installs it (Debian package clang)"
  exit 77
fi
targets=(note_names_fuzz stored_form_fuzz program_file_fuzz)
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS=-O1 -DZELKGEN_WERROR=ON \
  -DZELKGEN_FUZZ=ON -DZELKGEN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" --target "${targets[@]}"
for target in "${targets[@]}"; do
  binary=$(find "$build_dir" -name "$target" -type f -perm -u+x | head -n 1)
  if [ -z "$binary" ]; then
    echo "FAIL: $target was not built"
    exit 1
  fi
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
  echo "== $target, $seconds s"
  # A fault found is written beside the corpus, never into the source tree.
  "$binary" -max_total_time="$seconds" -rss_limit_mb=1024 -artifact_prefix="$corpus/" "$corpus" \
    2>&1 | tail -n 3
  status=${PIPESTATUS[0]}
  rm -rf "$corpus"
  trap - EXIT
  if [ "$status" -ne 0 ]; then
    echo "FAIL: $target found a fault (status $status)"
    exit 1
  fi
done
