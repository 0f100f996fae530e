/* Slots 1 and 2 inside real firmware, from C. QEMU's q35 machine has no data
 * fabric: the registers behind the configuration window at 0xE0000000 read 0,
 * so no DRAM address map is valid and neither direction finds a system
 * address. The DRAM coordinates come from the ChannelConfigTable of the
 * topology double, whose slot 0 holds one pair of chip selects (see
 * topology_double_driver.cpp):
 *   4 bank bits at A[13..16], bank bit 0 hashed with column bit 0 ^ row bit 0,
 *   10 column bits from A[3..10], A[11], A[12]; no rank multiplier;
 *   A[31] = 0: chip select 0 (primary range), 14 row bits from A[18];
 *   A[31] = 1: chip select 1 (secondary range only, odd): its row width comes
 *     from the 25 set bits of the secondary mask: 16 bits from A[18].
 * For A = 0x12345670: bank 0010b, then the hash 0 ^ 1 flips bit 0 -> 3; row
 * 0x48D; column 0x2CE. For A = 0x692345670: chip select 1, the same bank and
 * column, row 0xA48D (15 bits would give 0x248D, 17 bits 0x1A48D). */
#include "platform_topology_protocol.h"
#include "probe.h"
#include "translation_protocol.h"

enum { kCallerByte = 0xA5, kBankHashBitsOffset = 0xDE0 };
static const UINT64 kAllOnes = 0xFFFFFFFFFFFFFFFFULL;

typedef struct DramCase {
  UINT64 normalized;
  UINT8 chipSelect, bank;
  UINT32 row;
  UINT16 col;
} DramCase;
static const DramCase kDramCases[] = {
    {0x12345670, 0, 3, 0x48D, 0x2CE},
    {0x692345670, 1, 3, 0xA48D, 0x2CE},
};

static void FillBytes(void* p, UINTN n) {
  for (UINTN i = 0; i < n; ++i) ((UINT8*)p)[i] = kCallerByte;
}

static bool BytesAre(const void* p, UINTN from, UINTN to, UINT8 value) {
  for (UINTN i = from; i < to; ++i)
    if (((const UINT8*)p)[i] != value) return false;
  return true;
}

void CheckTranslationRoundTrip(ProbeContext* ctx) {
  const char* name = "translation-round-trip";
  ProbeText t;
  TranslationProtocol* tp = (TranslationProtocol*)ProbeLocate(ctx, name, &gTranslationProtocolGuid);
  PlatformTopologyProtocol* topo =
      (PlatformTopologyProtocol*)ProbeLocate(ctx, name, &gPlatformTopologyProtocolGuid);
  if (tp == 0 || topo == 0) return;
  const UINT8* hashBits = (const UINT8*)topo->channelConfigTable + kBankHashBitsOffset;

  /* Slot 1: DRAM coordinates first, written field by field (the caller's gap
   * bytes 2, 3 and 11 stay), then no system address. */
  UINT64 system = 0;
  for (unsigned i = 0; i < sizeof kDramCases / sizeof kDramCases[0]; ++i) {
    const DramCase* c = &kDramCases[i];
    NormalizedAddress in;
    FillBytes(&in, sizeof in);
    in.normalizedAddr = c->normalized;
    in.socketId = 0;
    in.dieId = 0;
    in.channelId = 0;
    DramAddress dram;
    FillBytes(&dram, sizeof dram);
    system = 0;
    const EFI_STATUS s = tp->NormalizedToSystem(&in, &system, &dram);
    const bool ok = s == EFI_INVALID_PARAMETER && system == kAllOnes &&
                    dram.chipSelect == c->chipSelect && dram.bank == c->bank &&
                    dram.row == c->row && dram.col == c->col && dram.rankMul == 0 &&
                    BytesAre(&dram, 2, 4, kCallerByte) && BytesAre(&dram, 11, 12, kCallerByte) &&
                    hashBits[0] == 1 && BytesAre(hashBits, 1, 5, 0);
    TextInit(&t);
    TextHexDigits(TextAdd(&t, "A "), c->normalized, 10);
    TextHex(TextAdd(&t, " status "), s);
    TextHexDigits(TextAdd(&t, " cs "), dram.chipSelect, 2);
    TextHexDigits(TextAdd(&t, " bank "), dram.bank, 2);
    TextHexDigits(TextAdd(&t, " row "), dram.row, 8);
    TextHexDigits(TextAdd(&t, " col "), dram.col, 4);
    TextHexDigits(TextAdd(&t, " rm "), dram.rankMul, 2);
    TextHexDigits(TextAdd(&t, " hash "), hashBits[0], 2);
    ProbeExpect(ctx, "slot1-norm-to-sys", ok, t.buf);
  }

  /* Slot 2 on what slot 1 gave, and on the normalized address taken as a
   * system address: the all-ones record with ids 0, the caller's last four
   * bytes kept, the DRAM record untouched. */
  const UINT64 addresses[2] = {system, kDramCases[0].normalized};
  for (unsigned i = 0; i < 2; ++i) {
    NormalizedAddress out;
    FillBytes(&out, sizeof out);
    UINT64 address = addresses[i];
    DramAddress dram;
    FillBytes(&dram, sizeof dram);
    const EFI_STATUS s = tp->SystemToNormalized(&address, &out, &dram);
    const bool ok = s == EFI_INVALID_PARAMETER && out.normalizedAddr == kAllOnes &&
                    out.socketId == 0 && out.dieId == 0 && out.channelId == 0 &&
                    out.reserved == 0 && BytesAre(&out, 12, 16, kCallerByte) &&
                    BytesAre(&dram, 0, sizeof dram, kCallerByte);
    TextInit(&t);
    TextHex(TextAdd(&t, "system "), address);
    TextHex(TextAdd(&t, " status "), s);
    TextHex(TextAdd(&t, " normalized "), out.normalizedAddr);
    ProbeExpect(ctx, "slot2-sys-to-norm", ok, t.buf);
  }
}
