#!/usr/bin/env bash
# The developer's loop: rebuild only the programs one group of tests runs, then
# run that group.
#   quick-test.sh PRESET LABEL REGEX
# PRESET: host (empty: host) or asan. LABEL: a CTest label (a test folder such
# as fabric, decode, mem_tune; or firmware, image, fuzz). REGEX: test names.
# Give a label, a regex or both. The tree must have been built once (the test
# list comes from that build); `make quick L=fabric` is the usual call.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-host}"
label="${2:-}"
regex="${3:-}"
[ "$preset" = host ] || [ "$preset" = asan ] || { echo "quick: PRESET is host or asan, not $preset"; exit 2; }
[ -n "$label$regex" ] || { echo "quick: give L=label or R=regex (make quick L=fabric)"; exit 2; }
dir="build/$preset"
[ -f "$dir/build.ninja" ] || { echo "quick: $dir is not configured: run make build-both (or make test) once"; exit 2; }
select=()
[ -n "$label" ] && select+=(-L "^($label)\$")
[ -n "$regex" ] && select+=(-R "$regex")

# The programs the selected tests run: every executable of the build tree a
# test's command names, when it is a target of the tree. The firmware tests'
# commands name images and patched volumes built by several targets: the whole
# tree then.
targets=()
whole=0
all_targets=$(ninja -C "$dir" -t targets all | sed -n 's/^\([A-Za-z0-9_.+-]*\): phony$/\1/p')
while IFS= read -r path; do
  name=$(basename "$path")
  if grep -qxF "$name" <<<"$all_targets"; then
    targets+=("$name")
  else
    whole=1
  fi
done < <(ctest --test-dir "$dir" "${select[@]}" --show-only=json-v1 |
           grep -o "\"$PWD/$dir/[^\"]*\"" | tr -d '"' | sort -u)
if [ "$whole" = 1 ] || [ ${#targets[@]} -eq 0 ]; then
  cmake --build "$dir"
else
  cmake --build "$dir" --target "${targets[@]}"
fi
export FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
ctest --test-dir "$dir" "${select[@]}" -j "$(nproc)" --output-on-failure
