#!/usr/bin/env bash
# Builds the host tree and the sanitizer tree side by side (both configured
# already): while one waits on a link the other compiles. Every line of output
# says its tree. Both builds run to their end, so a failure shows whole; the
# script fails when either fails.
#   build-both.sh [JOBS]
set -uo pipefail
cd "$(dirname "$0")/.."
jobs="${1:-$(nproc)}"
build() {
  cmake --build --preset "$1" -j "$jobs" 2>&1 | sed -u "s/^/[$1] /"
  return "${PIPESTATUS[0]}"
}
build host &
host=$!
build asan &
asan=$!
status=0
wait "$host" || { echo "build-both: the host tree failed to build"; status=1; }
wait "$asan" || { echo "build-both: the asan tree failed to build"; status=1; }
exit "$status"
