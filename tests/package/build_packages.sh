#!/usr/bin/env bash
# Both Debian packages from the built tree, as `make package` makes them:
#   build_packages.sh CPACK BUILD_DIR OUT
set -euo pipefail
cpack=$1 build=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  exit 1
fi
ls -l "$out"/*.deb
[ "$(ls "$out"/*.deb | wc -l)" -eq 2 ] || { echo "FAIL: not two packages"; exit 1; }
