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
#   decode_boot_bert.sh platsim bert-region.bin
set -u
platsim=$1 region=$2
[[ -s $region ]] || { echo "FAIL: $region is missing or empty (the OVMF boot writes it)"; exit 1; }

out=$("$platsim" decode "$region" 2>&1)
rc=$?
echo "$out"
fail=0
[[ $rc -eq 0 ]] || { echo "FAIL: platsim decode exited with $rc, expected 0"; fail=1; }

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

expect_line "boot error region" "180 bytes, 1 error status block"
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

if ((fail)); then exit 1; fi
echo "PASS: the boot error region of the OVMF boot decodes as the probe wrote it"
