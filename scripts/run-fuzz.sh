#!/usr/bin/env bash
# Runs one libFuzzer target for FUZZ_SECONDS (default 20) on a scratch copy of
# its checked-in seed corpus, and prints the executions it ran.
set -euo pipefail
target="$1"
seeds="$2"
seconds="${FUZZ_SECONDS:-20}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$work/corpus/" 2>/dev/null || true; fi
cd "$work"
# The target's own exit status decides: a crash or a failed check is non-zero.
status=0
"$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
  corpus >log.txt 2>&1 || status=$?
grep -E "^(stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY|Done)" log.txt || true
# One line per target in the build's summary, for reports.
summary="${FUZZ_SUMMARY:-}"
if [ -n "$summary" ]; then
  execs=$(grep -oE "stat::number_of_executed_units: [0-9]+" log.txt | grep -oE "[0-9]+" || echo 0)
  echo "$(basename "$target") seconds=$seconds executions=$execs status=$status" >> "$summary"
fi
if [ "$status" -ne 0 ]; then
  tail -n 60 log.txt
  exit "$status"
fi
