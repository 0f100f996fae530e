#!/usr/bin/env bash
# Times `make test` by phase on a fresh clone of this checkout's HEAD, with
# nothing cached (ccache off), then `make test` again after touching one
# driver source. Prints one line per phase: wall time and processor time
# (user + system, all processes).
#   bench/make_test_phases.sh [WORKDIR]     (default: a new temporary folder)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-$(mktemp -d)}"
export CCACHE_DISABLE=1
rm -rf "$work/clone"
git clone -q "$src" "$work/clone"
cd "$work/clone"
results=()
phase() {
  local name="$1"
  shift
  local t0 c0 t1 c1
  t0=$(date +%s.%N)
  times >"$work/times"
  c0=$(cpu "$work/times")
  "$@" >"$work/$name.log" 2>&1 || { echo "phase $name failed: see $work/$name.log"; exit 1; }
  t1=$(date +%s.%N)
  times >"$work/times"
  c1=$(cpu "$work/times")
  results+=("$(awk -v n="$name" -v w="$t1 - $t0" -v c="$c1 - $c0" 'BEGIN {
    split(w, a, " - "); split(c, b, " - ")
    printf "%-22s wall %7.1f s   cpu %7.1f s", n, a[1] - a[2], b[1] - b[2] }')")
  echo "${results[-1]}"
}
# Processor seconds of every finished child of this shell, from what bash's
# `times` wrote (run in this shell itself: a subshell would count only its
# own children). Its second line is the children's user and system time.
cpu() {
  sed -n 2p "$1" | awk '{
    n = split($1 " " $2, f, " "); s = 0
    for (i = 1; i <= n; i++) { split(f[i], p, "m"); sub("s", "", p[2]); s += p[1] * 60 + p[2] }
    print s }'
}
phase deps scripts/install-deps.sh
phase configure bash -c 'cmake --preset host && cmake --preset asan'
phase build-both scripts/build-both.sh "$(nproc)"
phase tests scripts/run-tests.sh
tests=$(sed -n 's/^.*tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$work/tests.log")
touch addr_translate/fabric/calc_norm_addr.cpp
phase incremental-make-test make test
echo "tests run: ${tests:-?} (log: $work/tests.log)"
