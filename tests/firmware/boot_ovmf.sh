#!/usr/bin/env bash
# Boots OVMF under QEMU (TCG, q35) with a FAT drive holding the probe, lets
# the UEFI shell run it and list the handles of TranslationProtocol and
# HeapListProtocol, then checks the serial log and the debug console (port
# 0x402).
#   boot_ovmf.sh dispatch       WORK_DIR CODE.fd Probe.efi fvtool TivTool.efi
#   boot_ovmf.sh not-dispatched WORK_DIR CODE.fd Probe.efi fvtool
#   boot_ovmf.sh failed-start   WORK_DIR CODE.fd Probe.efi TopologyDouble.efi AddrTranslateDxe.efi
# dispatch: CODE.fd holds TopologyDouble and AddrTranslateDxe in its DXE
#   volume; the DXE core runs both, the shell loads nothing. The probe checks
#   every slot; the boot error region it printed is rebuilt into
#   WORK_DIR/bert-region.bin. Then the shell tool runs each of its subcommands
#   (and a few failures); the files it wrote are copied out to WORK_DIR/files.
# not-dispatched: CODE.fd holds AddrTranslateDxe alone; its dependency
#   expression never holds, so neither protocol exists, and the boot still
#   reaches the shell.
# failed-start: the shell loads AddrTranslateDxe before the topology double,
#   so its entry fails and the DXE core unloads it; the probe checks that no
#   HeapListProtocol interface is left in freed memory; then the double and
#   the driver are loaded (it must start on the list left behind).
# The FAT drive is an image made with mtools (QEMU's fat:rw: folder does not
# reliably write the guest's files back), copied out after the boot.
# Environment: OVMF_VARS (Debian's 4M image by default), BOOT_TIMEOUT
# (seconds, default 100).
set -u
mode=${1:-} work=${2:-} code=${3:-} probe=${4:-}
vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
limit=${BOOT_TIMEOUT:-100}

die() { echo "FAIL: $*"; exit 1; }
usage="usage: boot_ovmf.sh dispatch WORK_DIR CODE.fd Probe.efi fvtool TivTool.efi
       boot_ovmf.sh not-dispatched WORK_DIR CODE.fd Probe.efi fvtool
       boot_ovmf.sh failed-start WORK_DIR CODE.fd Probe.efi TopologyDouble.efi AddrTranslateDxe.efi"
case $mode in
  dispatch) (($# == 6)) || die "$usage"; fvtool=$5 tool=$6 ;;
  not-dispatched) (($# == 5)) || die "$usage"; fvtool=$5 ;;
  failed-start) (($# == 6)) || die "$usage"; topology=$5 driver=$6 ;;
  *) die "$usage" ;;
esac
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is not installed (package qemu-system-x86)"
command -v mformat >/dev/null || die "mformat is not installed (package mtools)"
[[ -f $code && -f $vars ]] || die "firmware not found at $code / $vars (package ovmf, or build it first)"
[[ -f $probe ]] || die "image $probe not found (build it first)"

translation_guid=D8ABD054-468F-503C-D3A7-E580D56B29B9
heap_list_guid=AF62673D-DEDA-43AE-8F03-9C2D89FD78DA

rm -rf "$work" && mkdir -p "$work/esp" || die "cannot create $work"
fail=0
check() {  # check DESCRIPTION REGEX [FILE]
  if grep -Eaq "$2" "${3:-$log}"; then
    echo "ok: $1"
  else
    echo "FAIL: $1 (no line matching /$2/ in ${3:-$log})"
    fail=1
  fi
}
absent() {  # absent DESCRIPTION REGEX [FILE]
  if grep -Eaq "$2" "${3:-$log}"; then
    echo "FAIL: $1 (found: $(grep -Ea -m1 "$2" "${3:-$log}"))"
    fail=1
  else
    echo "ok: $1"
  fi
}

# What the DXE volume holds decides the scenario: make sure the image is the
# one the mode expects before spending a boot on it.
if [[ $mode != failed-start ]]; then
  "$fvtool" list "$code" >"$work/volume.txt" || die "fvtool list $code failed"
  in_volume='DRIVER \(0x07\) +[0-9A-F-]+ +0x[0-9A-F]+ +'
  check "AddrTranslateDxe is a DRIVER file in the volume" "${in_volume}AddrTranslateDxe$" "$work/volume.txt"
  if [[ $mode == dispatch ]]; then
    check "TopologyDouble is a DRIVER file in the volume" "${in_volume}TopologyDouble$" "$work/volume.txt"
  else
    absent "no TopologyDouble in the volume" "TopologyDouble" "$work/volume.txt"
  fi
  ((fail)) && die "$code is not the firmware for $mode"
fi

cp "$probe" "$work/esp/Probe.efi"
cp "$vars" "$work/vars.fd"
# The shell tool's steps (dispatch): each subcommand, and failures of each
# kind, each failure followed by the exit status the shell saw.
tool_steps=(
  'TivTool.efi translate sys 0x12345678'
  'TivTool.efi translate norm 0x12345670 0 0 0'
  'TivTool.efi translate norm 0x692345670 0 0 0'
  'TivTool.efi mca 7' 'echo mca-7 %lasterror%'
  'TivTool.efi mca 0 --out fs0:\out\mca.json'
  'TivTool.efi bert fs0:\out'
  'mkdir rel' 'TivTool.efi bert rel'
  'TivTool.efi -h'
  'TivTool.efi frob' 'echo frob %lasterror%'
  'TivTool.efi translate norm 0x1000 0 0 zero' 'echo bad-number %lasterror%'
  'TivTool.efi bert fs0:\no-such-folder' 'echo bad-folder %lasterror%'
  "TivTool.efi bert fs0:\\$(printf 'd%.0s' {1..256})"
)
# Then the capture: the probe moves an ivshmem device's memory to 0xE0000000,
# the fabric's ECAM window, so every register read through node N's window
# reads the dword the test put at that window's data register (0x98); nodes
# 0 and 1 answer with the fabric's vendor id, nodes 2 to 7 are absent.
capture_steps=('Probe.efi move-window' 'TivTool.efi capture fs0:\out\captured.json'
  'echo capture %lasterror%')
window_value=(0x00000003 0x00000104)  # node 0: three blocks, none a CCM

case $mode in
  dispatch)
    cp "$tool" "$work/esp/TivTool.efi" || die "image $tool not found"
    mkdir -p "$work/esp/out"
    steps=('Probe.efi' "${tool_steps[@]}" "${capture_steps[@]}")
    ;;
  not-dispatched) steps=('Probe.efi not-dispatched') ;;
  failed-start)
    cp "$topology" "$work/esp/TopologyDouble.efi" || die "image $topology not found"
    cp "$driver" "$work/esp/AddrTranslateDxe.efi" || die "image $driver not found"
    steps=('load AddrTranslateDxe.efi' 'Probe.efi failed-start' 'load TopologyDouble.efi'
      'load AddrTranslateDxe.efi' 'Probe.efi') ;;
esac
# The shell wants CR LF line ends.
printf '%s\r\n' 'fs0:' "${steps[@]}" "dh -p $translation_guid" "dh -p $heap_list_guid" \
  'reset -s' >"$work/esp/startup.nsh"

# The drive: a 32 MiB FAT16 image holding what $work/esp holds.
truncate -s 32M "$work/esp.img" && mformat -i "$work/esp.img" -T 65536 -h 64 -s 32 :: &&
  mcopy -s -i "$work/esp.img" "$work/esp/"* ::/ || die "cannot make the FAT image $work/esp.img"

# The device memory behind the moved window (dispatch): 1 MiB, node n's
# function 4 at 0xC4000 + n * 0x8000.
extra=()
le32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 0xFF)) $((($1 >> 8) & 0xFF)) \
  $((($1 >> 16) & 0xFF)) $((($1 >> 24) & 0xFF)))"; }
if [[ $mode == dispatch ]]; then
  head -c 1048576 /dev/zero >"$work/ivshmem.bin"
  for n in 0 1; do
    base=$((0xC4000 + n * 0x8000))
    le32 0x1022 | dd of="$work/ivshmem.bin" bs=1 seek=$base conv=notrunc status=none
    le32 "${window_value[n]}" | dd of="$work/ivshmem.bin" bs=1 seek=$((base + 0x98)) conv=notrunc status=none
  done
  extra=(-object memory-backend-file,id=ivmem,share=on,mem-path="$work/ivshmem.bin",size=1M
    -device ivshmem-plain,memdev=ivmem)
fi

log=$work/serial.log
debug=$work/debug.log
start=$(date +%s%N)
# The serial console's input is a FIFO held open here: the shell counts five
# seconds down before it runs startup.nsh unless a key arrives, so one space
# is sent as soon as the countdown shows (the boot then waits for nothing).
mkfifo "$work/keys" || die "cannot create $work/keys"
timeout "$limit" qemu-system-x86_64 -machine q35 -smp 2 -m 256 -nographic -no-reboot \
  -drive if=pflash,format=raw,readonly=on,file="$code" \
  -drive if=pflash,format=raw,file="$work/vars.fd" \
  -drive format=raw,file="$work/esp.img" \
  -debugcon file:"$debug" -global isa-debugcon.iobase=0x402 \
  -net none -serial stdio -monitor none -display none "${extra[@]}" <"$work/keys" >"$work/serial.raw" 2>"$work/qemu.err" &
qemu=$!
exec 3>"$work/keys"
while kill -0 "$qemu" 2>/dev/null; do
  if grep -aq 'any other key to continue' "$work/serial.raw" 2>/dev/null; then
    printf ' ' >&3
    break
  fi
  sleep 0.1
done
wait "$qemu"
rc=$?
exec 3>&-
tenths=$((($(date +%s%N) - start) / 100000000))
elapsed=$((tenths / 10)).$((tenths % 10))
# Terminal escape sequences and CRs out, so lines can be matched.
sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[()][A-Z0-9]//g' -e 's/\r//g' \
  "$work/serial.raw" >"$log"
touch "$debug"
if [[ $mode == dispatch ]]; then
  mkdir -p "$work/files"
  mcopy -s -n -i "$work/esp.img" ::/out ::/rel "$work/files/" 2>"$work/mcopy.err" ||
    echo "note: mcopy: $(head -c 300 "$work/mcopy.err")"
fi

echo "$mode: boot took ${elapsed} s (qemu exit $rc); serial log: $log, debug console: $debug"
[[ $rc -eq 124 ]] && die "QEMU did not finish within ${limit}s (the shell never reached 'reset -s'); see $log"
[[ $rc -ne 0 ]] && die "QEMU exited with $rc: $(head -c 500 "$work/qemu.err")"
check "the shell ran startup.nsh to its end" '^FS0:\\> reset -s'

# The probe's verdict, whatever the mode.
probe_verdict() {
  check "probe finished without failures" "PROBE DONE checks=.* failures=0x0+$"
  if grep -aq "PROBE DONE .*failures=0x0*[1-9A-F]" "$log"; then
    echo "FAIL: a probe run reported failures"
    fail=1
  fi
  if grep -aq "PROBE .*: FAIL" "$log"; then
    echo "FAIL: probe reported failures:"
    grep -a "PROBE .*: FAIL" "$log"
    fail=1
  fi
}
handle_line() { echo "^ *[0-9A-Fa-f]+: +$1"; }

case $mode in
  dispatch)
    absent "the shell loaded no image" "^FS0:\\\\> load |^Image 'FS0:"
    # Dispatched from the volume, the double runs before the console exists.
    check "the DXE core ran the topology double before the console existed" \
      "^TopologyDouble: entry, no console yet$" "$debug"
    ;;
  not-dispatched)
    absent "the shell loaded no image" "^FS0:\\\\> load |^Image 'FS0:"
    absent "no topology double ran" "TopologyDouble" "$debug"
    check "probe ran" "PROBE START not-dispatched$"
    check "TranslationProtocol is not installed" "PROBE translation-protocol-absent: PASS"
    check "HeapListProtocol is not installed: the entry never ran" \
      "PROBE heap-list-protocol-absent: PASS"
    absent "dh lists no handle with TranslationProtocol" "$(handle_line $translation_guid)"
    absent "dh lists no handle with HeapListProtocol" "$(handle_line $heap_list_guid)"
    probe_verdict
    ;;
  failed-start)
    check "AddrTranslateDxe.efi failed without the topology protocol" \
      "Image 'FS0:\\\\AddrTranslateDxe.efi' error in StartImage: Not Found"
    check "probe ran after the failed start" "PROBE START failed-start"
    check "TranslationProtocol is not installed" "PROBE translation-protocol-absent: PASS"
    check "no HeapListProtocol interface in freed memory" "PROBE heap-list-memory: PASS"
    check "TopologyDouble.efi loaded" "Image 'FS0:\\\\TopologyDouble.efi' loaded at .* - Success"
    check "the shell-loaded double found the console" "^TopologyDouble: entry, console present$" "$debug"
    check "AddrTranslateDxe.efi loaded with Success" \
      "Image 'FS0:\\\\AddrTranslateDxe.efi' loaded at .* - Success"
    ;;
esac

if [[ $mode != not-dispatched ]]; then
  check "topology double installed its protocol" "^TopologyDouble: PlatformTopologyProtocol installed" "$debug"
  check "topology double installed a BERT and a HEST" "^TopologyDouble: BERT and HEST installed" "$debug"
  check "probe ran" "PROBE START$"
  check "TranslationProtocol is installed" "PROBE translation-protocol: PASS"
  check "HeapListProtocol is installed" "PROBE heap-list-protocol: PASS"
  check "HeapListProtocol's interface is in pool memory" "PROBE heap-list-memory: PASS interface"
  check "slot 1 gave the double's DRAM coordinates and no system address" "PROBE slot1-norm-to-sys: PASS"
  check "slot 2 found no DRAM map on a machine without a data fabric" "PROBE slot2-sys-to-norm: PASS"
  check "slot 3 appended a raw-data record" "PROBE bert-append-raw: PASS"
  check "slot 3 appended a generic error data entry" "PROBE bert-append-entry: PASS"
  check "BERT read back with its new length, count and checksum" "PROBE bert-append: PASS region "
  check "slot 4 added one error source" "PROBE hest-append-one: PASS"
  check "slot 6 added two error sources" "PROBE hest-append-two: PASS"
  check "HEST read back with its new length, count and checksum" "PROBE hest-append: PASS length "
  check "slot 5 refuses a processor the list does not hold" "PROBE mca-absent-processor: PASS"
  probe_verdict
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
  check "dh lists a handle with TranslationProtocol" "$(handle_line $translation_guid)"
  check "dh lists a handle with HeapListProtocol" "$(handle_line $heap_list_guid)"
fi

# What the shell printed after the prompt line of COMMAND, up to the next prompt.
output_of() {
  PROMPT="FS0:\\> $1" awk 'index($0, "FS0:\\") == 1 { on = ($0 == ENVIRON["PROMPT"]); next } on' "$log"
}
# expect_output DESCRIPTION COMMAND: the lines on standard input, exactly.
expect_output() {
  local want got
  want=$(cat)
  got=$(output_of "$2")
  if [[ $got == "$want" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: '$2' printed"
    diff <(echo "$want") <(echo "$got") | sed 's/^/    /'
    fail=1
  fi
}

# The shell tool, with the topology double's channel table (see
# probe_translation_checks.c for the arithmetic) and no data fabric: slot 2
# finds no DRAM map, slot 1 gives DRAM coordinates and no system address.
# An error's exit status as the shell shows it (without the error bit).
if [[ $mode == dispatch ]]; then
  expect_output "translate sys: no DRAM map without a data fabric" \
    'TivTool.efi translate sys 0x12345678' <<'EOF2'
system address      0x0000000012345678
TivTool: error: system address 0x0000000012345678 is not DRAM: no valid DRAM address map contains it
EOF2
  expect_output "translate norm: chip select 0's coordinates, no system address" \
    'TivTool.efi translate norm 0x12345670 0 0 0' <<'EOF2'
normalized address  0x0000000012345670
channel             socket 0, die 0, channel 0
DRAM                chip select 0, bank 3, row 0x48D, column 0x2CE, rank multiplier 0
TivTool: error: normalized address 0x0000000012345670 of socket 0 die 0 channel 0 has no system address: slot 1 refuses it (status 0x8000000000000002)
EOF2
  expect_output "translate norm: chip select 1's 16-bit row" \
    'TivTool.efi translate norm 0x692345670 0 0 0' <<'EOF2'
normalized address  0x0000000692345670
channel             socket 0, die 0, channel 0
DRAM                chip select 1, bank 3, row 0xA48D, column 0x2CE, rank multiplier 0
TivTool: error: normalized address 0x0000000692345670 of socket 0 die 0 channel 0 has no system address: slot 1 refuses it (status 0x8000000000000002)
EOF2
  expect_output "mca: a processor the list does not hold (two processors)" 'TivTool.efi mca 7' <<'EOF2'
machine check       processor 7, capture EFI_INVALID_PARAMETER
TivTool: error: processor 7 is not in the platform's processor list (CaptureMcaBanks: EFI_INVALID_PARAMETER)
EOF2
  check "mca 0 captured and wrote its snapshot" \
    '^wrote fs0:\\out\\mca\.json \([0-9]+ bytes: the snapshot, for platsim decode\)$'
  expect_output "bert: both files into fs0:\\out" 'TivTool.efi bert fs0:\out' <<EOF2
wrote fs0:\out\bert.dat (48 bytes: the BERT)
wrote fs0:\out\bert-region.bin ($(stat -c %s "$work/bert-region.bin") bytes: the boot error region at $(sed -n 's/^.*wrote fs0:\\out\\bert-region.bin ([0-9]* bytes: the boot error region at \(0x[0-9A-F]*\))$/\1/p' "$log"))
at the desk: platsim decode bert.dat --region bert-region.bin
EOF2
  check "bert: a folder relative to the current directory" '^wrote rel\\bert-region\.bin '
  for f in bert.dat bert-region.bin; do
    if cmp -s "$work/files/out/$f" "$work/files/rel/$f"; then
      echo "ok: out/$f and rel/$f are the same"
    else
      echo "FAIL: out/$f and rel/$f differ, or are missing"
      fail=1
    fi
  done
  if cmp "$work/files/out/bert-region.bin" "$work/bert-region.bin"; then
    echo "ok: the region TivTool wrote is the one the probe printed"
  else
    echo "FAIL: $work/files/out/bert-region.bin is not the region the probe printed"
    fail=1
  fi
  for line in 'translate sys ADDR' 'translate norm ADDR SOCKET DIE CHANNEL' 'mca CPU \[--out FILE\]' \
    'bert DIR' 'capture FILE' 'help, -h'; do
    check "help lists '$line'" "^  $line  +[a-z]"
  done
  expect_output "an unknown subcommand" 'TivTool.efi frob' <<'EOF2'
TivTool: error: 'frob' is not a subcommand; the subcommands are translate, mca, bert, capture, help
EOF2
  expect_output "a bad number" 'TivTool.efi translate norm 0x1000 0 0 zero' <<'EOF2'
TivTool: error: channel: 'zero' is not a number (decimal, or hex after 0x)
EOF2
  expect_output "a file that cannot be written" 'TivTool.efi bert fs0:\no-such-folder' <<'EOF2'
TivTool: error: cannot write fs0:\no-such-folder\bert.dat: EFI_NOT_FOUND
EOF2
  expect_output "an argument too long to be taken whole" \
    "TivTool.efi bert fs0:\\$(printf 'd%.0s' {1..256})" <<'EOF2'
TivTool: error: an argument is longer than 255 characters
EOF2
  # The exit statuses: EFI_INVALID_PARAMETER (2) and EFI_NOT_FOUND (14).
  for tag in mca-7:0x2 frob:0x2 bad-number:0x2 bad-folder:0xE; do
    expect_output "exit status of ${tag%%:*}" "echo ${tag%%:*} %lasterror%" <<<"${tag%%:*} ${tag#*:}"
  done
fi

if ((fail)); then
  echo "---- last lines of $log ----"
  tail -n 40 "$log"
  echo "---- $debug ----"
  tail -n 20 "$debug"
  exit 1
fi
case $mode in
  dispatch) echo "PASS: the DXE core dispatched AddrTranslateDxe from the volume; both protocols serve" ;;
  not-dispatched) echo "PASS: without PlatformTopologyProtocol AddrTranslateDxe was never dispatched" ;;
  failed-start)
    echo "PASS: a failed start of AddrTranslateDxe leaves no dangling interface; it starts on a later load"
    ;;
esac
