#!/usr/bin/env bash
# End-to-end timing of batch translation: COUNT random DRAM addresses of the
# built-in platform (a fixed seed, so every run reads the same file) through
# `platsim translate sys --input FILE --json`, JSON Lines out, on one core.
#
#   bench/batch_translate.sh build/host/tools/platsim/platsim [COUNT]
#
# The built-in platform has 64 GiB of DRAM: [0, 3 GiB) and [4 GiB, 65 GiB)
# around the MMIO hole.
set -euo pipefail
platsim="$1"
count="${2:-1000000}"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

awk -v n="$count" 'BEGIN {
  srand(1)
  for (i = 0; i < n; i++) {
    r = int(rand() * 262144) * 262144 + int(rand() * 262144)   # 36 random bits: 0..64 GiB
    if (r >= 3 * 2^30) r += 2^30                               # above the hole
    printf("0x%X%08X\n", int(r / 2^32), r % 2^32)
  }
}' > "$dir/addresses.txt"

pin=()
command -v taskset >/dev/null && pin=(taskset -c 0)
TIMEFORMAT="wall %R s  user %U s  sys %S s"
echo "platsim translate sys --input <$count addresses> --json"
{ time "${pin[@]}" "$platsim" translate sys --input "$dir/addresses.txt" --json > "$dir/out.jsonl"; } 2>&1
lines=$(wc -l < "$dir/out.jsonl")
failed=$(grep -c '"ok":false' "$dir/out.jsonl" || true)
echo "$lines result lines, $failed failed"
[ "$lines" -eq "$count" ] && [ "$failed" -eq 0 ]
