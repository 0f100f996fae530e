#!/usr/bin/env bash
# Runs one libFuzzer target for FUZZ_SECONDS (default 20) on a scratch copy of
# its checked-in seed corpus, and prints the executions it ran.
#   run-fuzz.sh TARGET SEED_DIR
# Fails (non-zero) when the target crashes, times out on an input, runs out of
# memory, leaks, or ends before libFuzzer's closing "Done" line (an exit in the
# middle of a run). The input that did it and the whole log are then kept in
# $FUZZ_FAILURES/<target>/ (default build/asan/fuzz-failures), and the path is
# printed. FUZZ_SUMMARY names a file that gets one line per run.
set -euo pipefail
target="$1"
seeds="$2"
seconds="${FUZZ_SECONDS:-20}"
name="$(basename "$target")"
failures="${FUZZ_FAILURES:-build/asan/fuzz-failures}/$name"
[[ $seconds =~ ^[0-9]+$ ]] || { echo "run-fuzz: FUZZ_SECONDS=$seconds is not a number of seconds"; exit 2; }
[ -x "$target" ] || { echo "run-fuzz: $target is not an executable"; exit 2; }
[ -d "$seeds" ] || { echo "run-fuzz: no seed corpus at $seeds"; exit 2; }
mkdir -p "$failures"
failures="$(cd "$failures" && pwd)"
rm -rf "${failures:?}"/*  # what an earlier run left describes that run
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus"
cp -r "$seeds"/. "$work/corpus/"
cd "$work"

# The target's status is taken straight from its own exit, before any other
# command runs; the log is read only afterwards. libFuzzer stops on its own
# after -max_total_time; the outer bound catches a run that never comes back.
# libFuzzer stops once the whole seconds since its start exceed
# -max_total_time, a second after it: asking for one second less runs the
# target for the seconds asked (its closing line says "in $seconds second(s)").
limit=$((seconds > 1 ? seconds - 1 : seconds))
status=0
timeout --kill-after=30 $((seconds + 120)) "$target" -max_total_time="$limit" \
  -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$failures/" \
  corpus >log.txt 2>&1 || status=$?

execs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' log.txt | tail -n 1)
new_units=$(sed -n 's/^stat::new_units_added: *\([0-9]*\)$/\1/p' log.txt | tail -n 1)
ran=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' log.txt | tail -n 1)
last_new=$(sed -n 's/^#\([0-9]*\)[[:space:]]*NEW .*/\1/p' log.txt | tail -n 1)
artifacts=$(find "$failures" -maxdepth 1 -type f -printf '%f\n' | sort)
# One word for the summary, one sentence for the developer.
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  kind=hang verdict="did not finish within $((seconds + 120)) s"
elif [ "$status" -ne 0 ]; then
  case "$artifacts" in
    crash-*) kind=crash verdict="crashed" ;;
    timeout-*) kind=timeout verdict="timed out on an input (more than 10 s)" ;;
    oom-*) kind=oom verdict="ran out of memory (more than 2048 MB)" ;;
    leak-*) kind=leak verdict="leaked memory" ;;
    *) kind=failed verdict="failed with status $status" ;;
  esac
elif ! grep -qE "^Done [0-9]+ runs in [0-9]+ second" log.txt; then
  kind=early-exit verdict="ended before libFuzzer finished (status 0, no closing \"Done\" line)"
  status=1
else
  kind=passed verdict=passed
fi

grep -E "^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::number_of_executed_units|==[0-9]+== *ERROR|SUMMARY|Done)" \
  log.txt || true  # display only: the verdict above is already taken
summary="${FUZZ_SUMMARY:-}"
if [ -n "$summary" ]; then
  echo "$name seconds=$seconds ran=${ran:-0} executions=${execs:-0} new_units=${new_units:-0}" \
    "last_new_at=${last_new:-0} status=$status result=$kind" >>"$summary"
fi
if [ "$kind" = passed ]; then
  rmdir "$failures" 2>/dev/null || true
  exit 0
fi

cp log.txt "$failures/log.txt"
echo "---- last lines of the log ----"
tail -n 60 log.txt
echo "run-fuzz: FAIL: $name $verdict${execs:+ after $execs executions}"
echo "run-fuzz: log and input kept in $failures/"
for f in $artifacts; do
  echo "run-fuzz:   $f ($(stat -c %s "$failures/$f") bytes, base64 $(head -c 96 "$failures/$f" | base64 -w0))"
done
echo "run-fuzz: replay with: $target $failures/<input>"
exit "$status"
