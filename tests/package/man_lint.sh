#!/usr/bin/env bash
# mandoc -T lint at its strictest (style): the pages in a scratch manual tree
# of their own, so that each page's cross-references to the others resolve.
#   man_lint.sh MAKEWHATIS PAGE.1...
set -uo pipefail
makewhatis=$1
shift
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/man1"
cp "$@" "$tree/man1/"
"$makewhatis" "$tree"
report=$(mandoc -T lint -W style -m "$tree" "$tree"/man1/*.1 2>&1)
rc=$?
[ -n "$report" ] && echo "$report"
[ $rc -eq 0 ] && [ -z "$report" ] || { echo "FAIL: mandoc -T lint"; exit 1; }
echo "mandoc -T lint: $# pages clean"
