#!/usr/bin/env bash
# Checks the profile TivTool.efi captured in the OVMF dispatch boot. The probe
# had moved an ivshmem device's memory to 0xE0000000, so every fabric register
# read through node n's window is the dword the boot put at that window's
# data register: node 0 0x00000003, node 1 0x00000104; nodes 2 to 7 have no
# vendor id. What the capture must then read, worked out from the rules:
#   node 0, by broadcast: 6 fabric-wide registers; the block count is 3
#   node 0, the block list: F0x044 of blocks 0..2 = 3 (non-zero, type 3: no CCM)
#   node 0, no CCM: the hole and 16 DRAM maps by broadcast = 33
#   nodes 0 and 1, blocks 0..2 as coherent slaves: F0x050, F0x104, maps 0
#   and 1 (4), F0x1B4, F2x090 = 8 each, 24 per node
#   = 66 registers of node 0 and 24 of node 1, 90 in all.
# The processors and the channel table are the topology double's: processors
# 0 and 1 with info "i 00 00 00 5A", and the table of
# topology_double_profile.json (bankHashBits aside, which the translations
# write back).
#   check_board_capture.sh platsim BOOT_WORK_DIR PROFILE
set -u
platsim=$1 work=$2 profile=$3
file=$work/files/out/captured.json log=$work/serial.log
for f in "$file" "$log"; do
  [[ -s $f ]] || { echo "FAIL: $f is missing or empty (the OVMF dispatch boot writes it)"; exit 1; }
done
fail=0
ok() { echo "ok: $1"; }
bad() { echo "FAIL: $1"; fail=1; }
expect() {  # expect DESCRIPTION GOT WANT
  if [[ $2 == "$3" ]]; then ok "$1: $3"; else bad "$1: got '$2', want '$3'"; fi
}

if grep -Eq '^captured 90 fabric registers of 2 nodes \(3 blocks\), 2 processors and the channel configuration in [0-9]+\.[0-9] ms$' "$log"; then
  ok "TivTool reported 90 registers of 2 nodes, 3 blocks, 2 processors and the channel table"
  echo "   $(grep -E '^captured [0-9]+ fabric registers' "$log")"
else
  bad "no capture report of 90 registers: $(grep -E '^captured |TivTool: error' "$log" | head -n 2)"
fi
grep -q '^capture 0x0$' "$log" && ok "capture exited with EFI_SUCCESS" || bad "capture's exit status is not 0"

registers() { grep -Ec "^    \{\"node\": $1, \"function\": [0-7], \"offset\": \"0x[0-9A-F]{3}\", \"instance\": (\"broadcast\"|[0-9]+), \"value\": \"$2\"\}" "$file"; }
expect "registers of node 0 reading 0x00000003" "$(registers 0 0x00000003)" 66
expect "registers of node 1 reading 0x00000104" "$(registers 1 0x00000104)" 24
expect "fabric registers in all" "$(grep -c '^    {"node": ' "$file")" 90
expect "node 0 by broadcast" "$(grep -c '^    {"node": 0, .*"instance": "broadcast"' "$file")" 39
for key in '"tool": "TivTool"' '"source": "uefi-shell"' '"cpuidSignature": "0x[0-9A-F]{8}"' \
  '"firmwareVendor": "[^"]+"' '"firmwareRevision": "0x[0-9A-F]{8}"' \
  '"time": "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z?"'; do
  grep -Eq "^    $key,?$" "$file" && ok "captured section: $key" || bad "captured section has no $key"
done
for cpu in 0 1; do
  grep -qx "    {\"number\": $cpu, \"info\": \"0$cpu 00 00 00 5A\"}.\?" "$file" &&
    ok "processor $cpu as the double published it" || bad "no processor $cpu with info 0$cpu 00 00 00 5A"
done

# platsim loads the capture, and finds the double's channel table in it.
table() { "$platsim" --profile "$1" profile dump | awk '/^  "channelConfig"/,/^  }/' | grep -v bankHashBits | sed 's/,$//'; }
if "$platsim" --profile "$file" profile dump >"$work/captured-dump.json" 2>"$work/captured-dump.err"; then
  ok "platsim loads the captured profile"
  if [[ "$(table "$file")" == "$(table "$profile")" && -n "$(table "$profile")" ]]; then
    ok "the channel table is the topology double's"
  else
    bad "the channel table differs from $profile:"
    diff <(table "$profile") <(table "$file") | head -n 20
  fi
else
  bad "platsim refuses the captured profile: $(head -c 300 "$work/captured-dump.err")"
fi

((fail)) && exit 1
echo "PASS: the board's capture holds what the window and the topology double gave it"
