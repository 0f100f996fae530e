#!/usr/bin/env bash
# Boots OVMF under QEMU (TCG, q35) with a FAT drive holding the images, lets
# the UEFI shell load TopologyDouble.efi and AddrTranslateDxe.efi and run the
# probe, then checks the serial log and rebuilds the boot error region the
# probe printed into WORK_DIR/bert-region.bin.
#   boot_ovmf.sh WORK_DIR TopologyDouble.efi AddrTranslateDxe.efi Probe.efi [failed-start]
# failed-start: AddrTranslateDxe is loaded first, without the topology double,
# so its entry fails and the DXE core unloads it; the probe then checks that
# no HeapListProtocol interface is left in freed memory, and the driver is
# loaded again after the double (it must start on the list left behind).
# Environment: OVMF_CODE / OVMF_VARS (Debian's 4M images by default),
# BOOT_TIMEOUT (seconds, default 100).
set -u
work=$1 topology=$2 driver=$3 probe=$4 mode=${5:-normal}
code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
limit=${BOOT_TIMEOUT:-100}

die() { echo "FAIL: $*"; exit 1; }
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is not installed (package qemu-system-x86)"
[[ -f $code && -f $vars ]] || die "OVMF firmware not found at $code / $vars (package ovmf)"
for f in "$topology" "$driver" "$probe"; do [[ -f $f ]] || die "image $f not found (build it first)"; done

translation_guid=D8ABD054-468F-503C-D3A7-E580D56B29B9
heap_list_guid=AF62673D-DEDA-43AE-8F03-9C2D89FD78DA

rm -rf "$work" && mkdir -p "$work/esp" || die "cannot create $work"
cp "$topology" "$work/esp/TopologyDouble.efi"
cp "$driver" "$work/esp/AddrTranslateDxe.efi"
cp "$probe" "$work/esp/Probe.efi"
cp "$vars" "$work/vars.fd"
# The shell wants CR LF line ends.
case $mode in
  normal) steps=('load TopologyDouble.efi' 'load AddrTranslateDxe.efi' 'Probe.efi') ;;
  failed-start)
    steps=('load AddrTranslateDxe.efi' 'Probe.efi failed-start' 'load TopologyDouble.efi'
      'load AddrTranslateDxe.efi' 'Probe.efi') ;;
  *) die "unknown mode $mode" ;;
esac
printf '%s\r\n' 'fs0:' "${steps[@]}" "dh -p $translation_guid" "dh -p $heap_list_guid" \
  'reset -s' >"$work/esp/startup.nsh"

log=$work/serial.log
start=$(date +%s)
timeout "$limit" qemu-system-x86_64 -machine q35 -smp 2 -m 256 -nographic -no-reboot \
  -drive if=pflash,format=raw,readonly=on,file="$code" \
  -drive if=pflash,format=raw,file="$work/vars.fd" \
  -drive format=raw,file=fat:rw:"$work/esp" \
  -net none -serial stdio -monitor none -display none </dev/null >"$work/serial.raw" 2>"$work/qemu.err"
rc=$?
elapsed=$(($(date +%s) - start))
# Terminal escape sequences and CRs out, so lines can be matched.
sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[()][A-Z0-9]//g' -e 's/\r//g' \
  "$work/serial.raw" >"$log"

echo "boot took ${elapsed}s (qemu exit $rc); serial log: $log"
[[ $rc -eq 124 ]] && die "QEMU did not finish within ${limit}s (the shell never reached 'reset -s'); see $log"
[[ $rc -ne 0 ]] && die "QEMU exited with $rc: $(head -c 500 "$work/qemu.err")"

fail=0
check() {  # check DESCRIPTION REGEX
  if grep -Eq "$2" "$log"; then
    echo "ok: $1"
  else
    echo "FAIL: $1 (no line matching /$2/ in $log)"
    fail=1
  fi
}
if [[ $mode == failed-start ]]; then
  check "AddrTranslateDxe.efi failed without the topology protocol" \
    "Image 'FS0:\\\\AddrTranslateDxe.efi' error in StartImage: Not Found"
  check "probe ran after the failed start" "PROBE START failed-start"
  check "TranslationProtocol is not installed" "PROBE translation-protocol-absent: PASS"
  check "no HeapListProtocol interface in freed memory" "PROBE heap-list-memory: PASS"
fi
check "TopologyDouble.efi loaded" "Image 'FS0:\\\\TopologyDouble.efi' loaded at .* - Success"
check "topology double installed its protocol" "TopologyDouble: PlatformTopologyProtocol installed"
check "AddrTranslateDxe.efi loaded with Success" "Image 'FS0:\\\\AddrTranslateDxe.efi' loaded at .* - Success"
check "probe ran" "PROBE START$"
check "TranslationProtocol is installed" "PROBE translation-protocol: PASS"
check "HeapListProtocol is installed" "PROBE heap-list-protocol: PASS"
check "HeapListProtocol's interface is in pool memory" "PROBE heap-list-memory: PASS interface"
check "slot 1 gave the double's DRAM coordinates and no system address" "PROBE slot1-norm-to-sys: PASS"
check "slot 2 found no DRAM map on a machine without a data fabric" "PROBE slot2-sys-to-norm: PASS"
check "topology double installed a BERT and a HEST" "TopologyDouble: BERT and HEST installed"
check "slot 3 appended a raw-data record" "PROBE bert-append-raw: PASS"
check "slot 3 appended a generic error data entry" "PROBE bert-append-entry: PASS"
check "BERT read back with its new length, count and checksum" "PROBE bert-append: PASS region "
check "slot 4 added one error source" "PROBE hest-append-one: PASS"
check "slot 6 added two error sources" "PROBE hest-append-two: PASS"
check "HEST read back with its new length, count and checksum" "PROBE hest-append: PASS length "
check "slot 5 refuses a processor the list does not hold" "PROBE mca-absent-processor: PASS"
check "probe finished without failures" "PROBE DONE checks=.* failures=0x0+$"
if grep -q "PROBE DONE .*failures=0x0*[1-9A-F]" "$log"; then
  echo "FAIL: a probe run reported failures"
  fail=1
fi
if grep -q "PROBE .*: FAIL" "$log"; then
  echo "FAIL: probe reported failures:"
  grep "PROBE .*: FAIL" "$log"
  fail=1
fi
# The boot error region, from the probe's hex lines (16 bytes each, offsets
# in order), for tools that decode it.
region=$work/bert-region.bin
: >"$region"
expect=0
while read -r _ offset hex; do
  if ((16#$offset != expect)); then
    echo "FAIL: boot error region line at offset $offset, expected $(printf %04X $expect)"
    fail=1
    break
  fi
  printf "$(sed 's/../\\x&/g' <<<"$hex")" >>"$region"
  expect=$((expect + ${#hex} / 2))
done < <(grep -a '^PROBE-BERT-REGION ' "$log")
reported=$(sed -n 's/^PROBE bert-region-dump: PASS length 0x\([0-9A-F]*\)$/\1/p' "$log" | tail -n 1)
if [[ -z $reported ]]; then
  echo "FAIL: the probe reported no boot error region length"
  fail=1
elif (($(stat -c %s "$region") != 16#$reported)); then
  echo "FAIL: $region holds $(stat -c %s "$region") bytes, the probe reported $((16#$reported))"
  fail=1
else
  echo "ok: boot error region rebuilt in $region ($((16#$reported)) bytes)"
fi
check "dh lists a handle with TranslationProtocol" "^ *[0-9A-Fa-f]+: +$translation_guid"
check "dh lists a handle with HeapListProtocol" "^ *[0-9A-Fa-f]+: +$heap_list_guid"
if ((fail)); then
  echo "---- last lines of $log ----"
  tail -n 40 "$log"
  exit 1
fi
if [[ $mode == failed-start ]]; then
  echo "PASS: a failed start of AddrTranslateDxe leaves no dangling interface; it starts on a later load"
else
  echo "PASS: AddrTranslateDxe boots in OVMF and publishes both protocols"
fi
