#!/usr/bin/env bash
# Decodes the boot error region that the OVMF dispatch boot left behind
# (rebuilt from the probe's lines) with `platsim decode` and checks what the
# probe's two slot-3 appends must have put there. The region started as an
# empty status block (20 bytes, severity 3 = informational, raw data at 20, none):
#   1. 8 bytes of raw data (DE AD BE EF 01 02 03 04), corrected (2): region
#      20 + 8 = 28 bytes; Block Status: correctable valid (bit 1), entry
#      count 1; block severity 2.
#   2. a generic error data entry (header of 72 bytes with the timestamp +
#      an 80-byte platform memory section = 152), fatal (1), inserted at the
#      raw data offset: region 28 + 152 = 180 bytes; Data Length 152; raw
#      data moved to 20 + 152 = 172; Block Status: uncorrectable valid (bit 0)
#      as well, entry count 2 (0x23); block severity 1 (fatal).
# The entry: platform memory section A5BC1114-6F64-4EDE-B863-3E83ED7C83B1,
# severity 1, revision 0x300; section validation bits 0x2 (physical address
# only), physical address 0x12345000, memory error type 3 (Multi-bit ECC) not
# marked valid. How platsim places that address on its default platform is
# the profile's business; the decode must translate it and come back to it.
# The same checks hold for the BERT and region TivTool.efi wrote in the boot
# (decoded as `platsim decode bert.dat --region bert-region.bin`). Then what
# TivTool printed is compared with what platsim prints for the same question:
# its snapshot file decoded, and `translate sys` on a profile of the topology
# double's channel table without a data fabric (topology_double_profile.json).
# (platsim refuses `translate norm` on that profile before slot 1, since the
# fabric has no channel; the boot checks TivTool's norm lines against the
# coordinates worked out in probe_translation_checks.c.)
#   decode_boot_bert.sh platsim BOOT_WORK_DIR PROFILE
set -u
platsim=$1 work=$2 profile=$3
region=$work/bert-region.bin files=$work/files/out log=$work/serial.log
for f in "$region" "$files/bert.dat" "$files/bert-region.bin" "$files/mca.json" "$log"; do
  [[ -s $f ]] || { echo "FAIL: $f is missing or empty (the OVMF boot writes it)"; exit 1; }
done
fail=0

# LABEL and VALUE of one output line, aligned by any run of spaces.
expect_line() {  # expect_line LABEL VALUE (both fixed text)
  local label value pattern
  label=$(sed 's/[][().*+?^$|\\]/\\&/g' <<<"$1")
  value=$(sed 's/[][().*+?^$|\\]/\\&/g' <<<"$2")
  pattern="^ *$label +$value\$"
  if grep -Eq "$pattern" <<<"$out"; then
    echo "ok: $1 $2"
  else
    echo "FAIL: no line '$1  $2'"
    fail=1
  fi
}
expect_count() {  # expect_count REGEX N
  local n
  n=$(grep -Ec "$1" <<<"$out")
  if ((n == $2)); then
    echo "ok: $2 line(s) matching /$1/"
  else
    echo "FAIL: $n line(s) matching /$1/, expected $2"
    fail=1
  fi
}

region_checks() {
  expect_line "$1" "180 bytes, 1 error status block"
  expect_line "status block 0" "at 0x0"
  expect_line "block status" "0x00000023 (uncorrectable valid, correctable valid), entry count 2"
  expect_line "data length" "152"
  expect_line "raw data" "offset 172, length 8: de ad be ef 01 02 03 04"
  expect_line "data entry 0" "at 0x14"
  expect_line "section type" "A5BC1114-6F64-4EDE-B863-3E83ED7C83B1 (platform memory), 80 bytes"
  expect_line "revision" "0x0300"
  expect_line "memory error" "validation bits 0x0000000000000002 (physical address)"
  expect_line "physical address" "0x0000000012345000"
  expect_line "not marked valid" "memory error type 3 (Multi-bit ECC)"
  expect_line "system address" "0x0000000012345000"
  expect_line "back to system" "0x0000000012345000  (round trip ok)"
  # Block and entry severity are both fatal; one block, one entry.
  expect_count "^ *error severity +1 \(fatal\)$" 2
  expect_count "^ *status block [0-9]+ " 1
  expect_count "^ *data entry [0-9]+ " 1
  expect_count "^damaged:" 0
}

# The region's own first line, or the BERT's line for the bytes given with it.
for decode in "$region:boot error region" \
  "$files/bert.dat --region $files/bert-region.bin:region bytes given"; do
  # shellcheck disable=SC2086 # two words for the BERT and its region
  out=$("$platsim" decode ${decode%%:*} 2>&1)
  rc=$?
  echo "---- platsim decode ${decode%%:*}"
  echo "$out"
  [[ $rc -eq 0 ]] || { echo "FAIL: platsim decode exited with $rc, expected 0"; fail=1; }
  region_checks "${decode#*:}"
done
expect_line "BERT" "length 48, revision 1, checksum $(sed -n 's/^BERT  *length 48, revision 1, checksum \(0x[0-9A-F]*\) ok$/\1/p' <<<"$out") ok"

# What the shell printed after the prompt line of COMMAND, up to the next prompt.
output_of() {
  PROMPT="FS0:\\> $1" awk 'index($0, "FS0:\\") == 1 { on = ($0 == ENVIRON["PROMPT"]); next } on' "$log"
}
same_lines() {  # same_lines DESCRIPTION BOARD DESK
  if [[ -n $2 && $2 == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: the board's lines (<) differ from platsim's (>)"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /'
    fail=1
  fi
}
# Lines of platsim that say which platform it works on are no translation.
desk_lines() { grep -Ev '^(platform: |platsim: note: )'; }

board=$(output_of 'TivTool.efi mca 0 --out fs0:\out\mca.json' | grep -v '^wrote ')
desk=$("$platsim" decode "$files/mca.json" 2>&1 | desk_lines)
same_lines "mca: the snapshot TivTool showed is what platsim decode shows of its file" "$board" "$desk"

address=0x12345678
board=$(output_of "TivTool.efi translate sys $address" | sed 's/^TivTool: /platsim: /')
desk=$("$platsim" --profile "$profile" translate sys $address 2>&1 | desk_lines)
same_lines "translate sys $address: the board's lines are platsim's on the same table" "$board" "$desk"

if ((fail)); then exit 1; fi
echo "PASS: the boot error region of the OVMF boot decodes as the probe wrote it, from the probe's lines and from TivTool's files; TivTool's lines are platsim's"
