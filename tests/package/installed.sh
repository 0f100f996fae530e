#!/usr/bin/env bash
# The packages as installed: both unpacked into a scratch root, then the
# installed programs run on installed files.
#   installed.sh DIR_WITH_DEBS VERSION OVMF_CODE.fd
set -uo pipefail
dir=$1 version=$2 ovmf=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail=0
problem() { echo "FAIL: $*"; fail=1; }

# Each package: the project's version, its architecture, unpacked.
tools_deb=$(ls "$dir"/tivfw-tools_*.deb) && firmware_deb=$(ls "$dir"/tivfw-firmware_*.deb) ||
  { echo "FAIL: the packages are not in $dir"; exit 1; }
for want in "$tools_deb amd64" "$firmware_deb all"; do
  set -- $want
  [ "$(dpkg-deb -f "$1" Version)" = "$version" ] || problem "$1: version is not $version"
  [ "$(dpkg-deb -f "$1" Architecture)" = "$2" ] || problem "$1: architecture is not $2"
  dpkg -x "$1" "$root" || problem "dpkg -x $1"
done
# The tools' dependencies come from dpkg-shlibdeps: the C and C++ runtime and liblzma.
depends=$(dpkg-deb -f "$tools_deb" Depends)
for lib in libc6 libstdc++6 libgcc-s1 liblzma5; do
  [[ $depends == *"$lib ("* ]] || problem "tivfw-tools depends on '$depends', not on $lib"
done

# run NAME WANT_STATUS PATTERN COMMAND...: the status, and output matching PATTERN.
run() {
  local name=$1 status=$2 pattern=$3 out rc
  shift 3
  out=$("$@" 2>&1)
  rc=$?
  if [ $rc -ne "$status" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    problem "$name: exit $rc (want $status), output:"
    echo "$out" | head -20
  fi
}
bin=$root/usr/bin
profile=$root/usr/share/doc/tivfw-tools/examples/one-socket-eight-channels.json
run "platsim --version" 0 "^platsim $version\$" "$bin/platsim" --version
run "fvtool --version" 0 "^fvtool $version\$" "$bin/fvtool" --version
# 0x12345678 lies in the first 4 GiB, below the MMIO hole: DRAM on every example platform.
run "installed platsim on the installed profile" 0 "round trip ok" \
  "$bin/platsim" --profile "$profile" translate sys 0x12345678
run "installed platsim --diag (the installed platsim-diag)" 0 "round trip ok" \
  "$bin/platsim" --diag --profile "$profile" translate sys 0x12345678
run "installed platsim map of the profile" 0 "32 GiB in 1 map, 8 channels" "$bin/platsim" --profile "$profile" map
run "installed fvtool list on OVMF" 0 "^$ovmf: " "$bin/fvtool" list "$ovmf"
run "installed fvtool depex from the installed INF and DEC" 0 "^.. .. .. 13 " \
  "$bin/fvtool" depex --inf "$root/usr/share/tivfw/TivFirmware/AddrTranslateDxe/AddrTranslateDxe.inf" \
  --dec "$root/usr/share/tivfw/TivFirmware/TivFirmware.dec"

# The images carry the version string; each module's INF, image and dependency
# expression lie together; the man pages and the changelog name the version.
for module in AddrTranslateDxe MemTuneSmm; do
  m=$root/usr/share/tivfw/TivFirmware/$module
  for f in $module.inf $module.efi $module.depex; do [ -s "$m/$f" ] || problem "$m/$f missing"; done
  grep -qaF "tivfw version $version" "$m/$module.efi" || problem "$module.efi: no 'tivfw version $version'"
done
grep -qaF "tivfw version $version" "$root/usr/share/tivfw/TivTool.efi" ||
  problem "/usr/share/tivfw/TivTool.efi missing, or without 'tivfw version $version'"
for f in usr/share/man/man1/platsim.1.gz usr/share/man/man1/fvtool.1.gz \
  usr/share/bash-completion/completions/platsim usr/share/bash-completion/completions/fvtool \
  usr/include/tivfw/translation_protocol.h usr/include/tivfw/efi/uefi.h; do
  [ -s "$root/$f" ] || problem "/$f missing"
done
for pkg in tivfw-tools tivfw-firmware; do
  head=$(zcat "$root/usr/share/doc/$pkg/changelog.gz" | head -1)
  [[ $head == "tivfw ($version) "* ]] || problem "$pkg changelog starts '$head'"
done
[ $fail -eq 0 ] && echo "installed: both packages, version $version"
exit $fail
