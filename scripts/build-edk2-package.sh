#!/usr/bin/env bash
# Builds integration/TivFirmwarePkg with EDK II's build (the tree
# scripts/fetch-edk2.sh prepared):
#   scripts/build-edk2-package.sh EDK2_DIR OUT_DIR RELEASE|DEBUG [build options...]
# The workspace is OUT_DIR (EDK II's Conf/ and Build/ go there); the packages
# come from this project's integration/ and EDK2_DIR/src. The images are
# OUT_DIR/Build/TivFirmwarePkg/TARGET_GCC5/X64/{AddrTranslateDxe,MemTuneSmm}.efi;
# EDK2_JOBS (default 2) is the number of build threads. The build's output
# goes to OUT_DIR/build-TARGET.log (its errors to stderr when it fails).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
edk2=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
target=$3
shift 3
[ -f "$edk2/.ready" ] || { echo "build-edk2-package: $edk2 is not prepared (scripts/fetch-edk2.sh)" >&2; exit 1; }
export WORKSPACE=$out
export PACKAGES_PATH=$root/integration:$edk2/src
export EDK_TOOLS_PATH=$edk2/src/BaseTools
export CONF_PATH=$out/Conf
mkdir -p "$CONF_PATH"
for f in target tools_def build_rule; do
  [ -f "$CONF_PATH/$f.txt" ] || cp "$EDK_TOOLS_PATH/Conf/$f.template" "$CONF_PATH/$f.txt"
done
export PATH=$EDK_TOOLS_PATH/BinWrappers/PosixLike:$PATH
export PYTHON_COMMAND=${PYTHON_COMMAND:-python3}
cd "$out"
log=$out/build-$target.log
start=$(date +%s)
if ! build -p TivFirmwarePkg/TivFirmwarePkg.dsc -a X64 -t GCC5 -b "$target" -n "${EDK2_JOBS:-2}" "$@" > "$log" 2>&1; then
  grep -E -B2 -A6 'error|Error' "$log" | grep -v '^"gcc"' | head -60 >&2
  echo "build-edk2-package: EDK II's build failed ($target); the whole output is in $log" >&2
  exit 1
fi
dir=$out/Build/TivFirmwarePkg/${target}_GCC5/X64
# EDK II's build leaves an unchanged image as it was: the caller's build tool
# sees that it was brought up to date.
touch "$dir/AddrTranslateDxe.efi" "$dir/MemTuneSmm.efi"
echo "build-edk2-package: TivFirmwarePkg $target built in $(($(date +%s) - start)) s"
