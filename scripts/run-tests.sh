#!/usr/bin/env bash
# Every test of both trees in one CTest run: the host tree's (unit, property
# and integration tests, the image checks, the OVMF boots) and the sanitizer
# tree's (the same unit tests, named asan/..., and every fuzz target for
# FUZZ_SECONDS, default 20). In one run the long tests (fuzz runs, boots,
# started first by their COST) overlap the short ones on every core.
#   run-tests.sh [ctest options...]     e.g. -L fuzz, -R 'Decode', -N
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD/build"
for tree in host asan; do
  [ -f "$root/$tree/CTestTestfile.cmake" ] || {
    echo "run-tests: build/$tree is not built (make build-both)"
    exit 2
  }
done
mkdir -p "$root/all"
printf 'subdirs("%s")\nsubdirs("%s")\n' "$root/host" "$root/asan" >"$root/all/CTestTestfile.cmake"
: >"$root/asan/fuzz-summary.txt"  # one line per fuzz run of this CTest run
export FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
ctest --test-dir "$root/all" -j "${JOBS:-$(nproc)}" --output-on-failure --timeout 600 "$@"
