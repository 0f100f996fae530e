#!/usr/bin/env bash
# Runs the fuzz runner on a target that fails on its seed input and checks
# that the runner fails too, says why, and keeps the log (and, for a crash,
# the input that crashed) in $FUZZ_FAILURES/<target>/.
#   expect_runner_failure.sh RUNNER TARGET SEED_DIR crash|early-exit
set -u
runner=$1 target=$2 seeds=$3 kind=$4
kept="${FUZZ_FAILURES:?}/$(basename "$target")"
fail=0
problem() { echo "FAIL: $*"; fail=1; }

out=$("$runner" "$target" "$seeds" 2>&1)
status=$?
echo "$out"
echo "---- runner status $status ----"
((status != 0)) || problem "the runner passed a target that fails on its seed input"
case $kind in
  crash) said="crashed" ;;
  early-exit) said="ended before libFuzzer finished" ;;
  *) echo "FAIL: unknown kind $kind"; exit 1 ;;
esac
grep -qF "run-fuzz: FAIL: $(basename "$target") $said" <<<"$out" || problem "no line saying it $said"
grep -qF "run-fuzz: log and input kept in $kept/" <<<"$out" || problem "no line naming $kept/"
[[ -s $kept/log.txt ]] || problem "no log kept at $kept/log.txt"
if [[ $kind == crash ]]; then
  found=0
  for f in "$kept"/crash-*; do
    [[ -f $f ]] && cmp -s "$f" "$seeds/seed01" && found=1
  done
  ((found)) || problem "the crashing input ($seeds/seed01) is not kept as $kept/crash-*"
fi
((fail)) && exit 1
echo "PASS: the runner failed on the $kind with status $status and kept what it found in $kept/"
