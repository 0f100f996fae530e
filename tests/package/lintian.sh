#!/usr/bin/env bash
# lintian on both packages: no error, no warning that the package's override
# file (packaging/lintian/PACKAGE, installed with it) does not name, and no
# override that matches nothing any more.
#   lintian.sh DIR_WITH_DEBS
set -uo pipefail
debs=("$1"/*.deb)
report=$(lintian --display-info --fail-on error,warning "${debs[@]}" 2>&1)
rc=$?
[ -n "$report" ] && echo "$report"
if grep -E '(unused|mismatched)-override' <<<"$report"; then
  echo "FAIL: an override names a tag lintian no longer raises"
  exit 1
fi
[ $rc -eq 0 ] || { echo "FAIL: lintian exit status $rc"; exit 1; }
echo "lintian: ${#debs[@]} packages clean"
