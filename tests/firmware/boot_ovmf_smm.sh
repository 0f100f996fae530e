#!/usr/bin/env bash
# Boots SMM-enabled OVMF (q35, TCG) with the SMM probe as the boot loader and
# checks one scenario:
#   boot_ovmf_smm.sh SCENARIO OUTDIR CODE.fd PROBE.efi
# SCENARIO:
#   served      CODE.fd carries SmmPlatformDouble and MemTuneSmm; the CPU has
#               a signature MemTuneSmm serves: every request is checked.
#   idle        the same firmware on a CPU whose signature it does not serve:
#               nothing registers for SMI 0x9D, the request stays pending.
#   unmapped    CODE.fd carries SmmPlatformDoubleUnmapped (mailbox and settings
#               record in boot-services data, which SMM may unmap once locked)
#               and MemTuneSmm: the handler refuses them; POST 0xD1 only.
#   no-provider unpatched firmware: the probe finds no MemTuneProvider.
# The probe reports on the debug console (port 0x402 -> OUTDIR/debug.log);
# a second debug console on port 0x80 captures the POST codes
# (OUTDIR/post.log), which must equal the stream the probe expects. An
# ivshmem-plain device whose memory (OUTDIR/ivshmem.bin) holds the register
# value the probe expects at offset 0xBC stands in for the memory controller
# once the probe moves it to 0xE0000000. The whole run stays in OUTDIR.
set -u
scenario=$1 out=$2 code=$3 probe=$4
vars_template=/usr/share/OVMF/OVMF_VARS_4M.fd
# The value every controller register reads (the probe's kRegisterValue).
register_value=0xB35A9CB0

case $scenario in
  served) cpu=qemu64,vendor=AuthenticAMD,family=23,model=49 ;;  # 0x00830F1x
  idle) cpu=qemu64,vendor=AuthenticAMD,family=23,model=0 ;;     # 0x00800F0x
  unmapped) cpu=qemu64,vendor=AuthenticAMD,family=23,model=49 ;;
  no-provider) cpu=qemu64,vendor=AuthenticAMD,family=23,model=49 ;;
  *) echo "FAIL: unknown scenario $scenario"; exit 1 ;;
esac
for f in "$code" "$probe" "$vars_template"; do
  [[ -f $f ]] || { echo "FAIL: $f not found (build it first)"; exit 1; }
done
command -v qemu-system-x86_64 >/dev/null || { echo "FAIL: qemu-system-x86_64 not installed"; exit 1; }

rm -rf "$out"
mkdir -p "$out/esp/EFI/BOOT"
cp "$probe" "$out/esp/EFI/BOOT/BOOTX64.EFI"
cp "$vars_template" "$out/vars.fd"
# 1 MiB of zeros with the register value at 0xBC, little-endian.
head -c 1048576 /dev/zero >"$out/ivshmem.bin"
printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((register_value & 0xFF)) \
  $(((register_value >> 8) & 0xFF)) $(((register_value >> 16) & 0xFF)) \
  $(((register_value >> 24) & 0xFF)))" |
  dd of="$out/ivshmem.bin" bs=1 seek=$((0xBC)) conv=notrunc status=none

start=$(date +%s.%N)
timeout 60 qemu-system-x86_64 \
  -machine q35,smm=on,accel=tcg -global driver=cfi.pflash01,property=secure,value=on \
  -cpu "$cpu" -m 256 -smp 1 -nographic -no-reboot -vga none -display none -monitor none -net none \
  -drive if=pflash,format=raw,unit=0,readonly=on,file="$code" \
  -drive if=pflash,format=raw,unit=1,file="$out/vars.fd" \
  -drive format=raw,file=fat:rw:"$out/esp" \
  -serial file:"$out/serial.log" \
  -debugcon file:"$out/debug.log" -global isa-debugcon.iobase=0x402 \
  -chardev file,id=post,path="$out/post.log" -device isa-debugcon,iobase=0x80,chardev=post \
  -object memory-backend-file,id=ivmem,share=on,mem-path="$out/ivshmem.bin",size=1M \
  -device ivshmem-plain,memdev=ivmem \
  </dev/null >"$out/qemu.log" 2>&1
rc=$?
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')

fail=0
problem() { echo "FAIL: $scenario: $*"; fail=1; }
log=$out/debug.log
touch "$log" "$out/post.log"
need() { grep -qF -- "$1" "$log" || problem "no line '$1' in debug.log"; }
refuse() { ! grep -qF -- "$1" "$log" || problem "unexpected line '$1' in debug.log"; }

((rc == 0)) || problem "QEMU exited with $rc (124: timed out after 60 s)"
need "SMMPROBE start"
grep -q '^SMMPROBE DONE checks=[0-9]* failures=0$' "$log" || problem "the probe did not finish with failures=0"
grep '^SMMPROBE .*: FAIL' "$log" | sed 's/^/  /'
case $scenario in
  served)
    need "SwSmiDispatchDouble: registered SMI 0x9D flags 0x80"
    need "SMMPROBE controller-window: PASS"
    need "SMMPROBE read-0x80000000 mailbox: PASS"
    need "SMMPROBE service: served"
    ;;
  idle)
    need "SmmPlatformDouble: ready"
    refuse "SwSmiDispatchDouble: registered"
    need "SMMPROBE service idle: PASS"
    ;;
  unmapped)
    need "MemTuneProviderDouble: memory type 0x04"
    need "SwSmiDispatchDouble: registered SMI 0x9D flags 0x80"
    need "SMMPROBE service refused: PASS"
    ;;
  no-provider)
    refuse "SmmPlatformDouble"
    need "SMMPROBE provider: not found"
    ;;
esac

# POST codes: what port 0x80 saw, from the probe's start marker on, must be
# exactly what it expected (the firmware itself writes nothing there).
expected=$(sed -n 's/^SMMPROBE post-expected: //p' "$log" | tr 'A-F' 'a-f' | sed 's/0x//g')
actual=$(od -An -tx1 -v "$out/post.log" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
if [[ $scenario == no-provider ]]; then
  [[ -z $actual ]] || problem "POST codes without a driver: $actual"
elif [[ -z $expected ]]; then
  problem "the probe printed no expected POST stream"
elif [[ $actual != "$expected" ]]; then
  problem "POST codes on port 0x80: '$actual', expected '$expected'"
fi

if ((fail)); then
  echo "--- debug console (tail) ---"
  tail -n 30 "$log"
  echo "--- kept in $out ---"
  exit 1
fi
printf 'OK: %s: %s checks, POST codes as expected, %s s\n' "$scenario" \
  "$(sed -n 's/^SMMPROBE DONE checks=\([0-9]*\).*/\1/p' "$log")" "$elapsed"
