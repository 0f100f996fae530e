/* Slots 1 and 2 inside real firmware, from C. QEMU's q35 machine has no data
 * fabric: the registers behind the configuration window at 0xE0000000 read 0,
 * so no DRAM address map is valid and neither direction finds a system
 * address. The DRAM coordinates come from the ChannelConfigTable of the
 * topology double, whose slot 0 describes one chip select that takes every
 * address (see topology_double_driver.cpp):
 *   4 bank bits at A[13..16], bank bit 0 hashed with column bit 0 ^ row bit 0,
 *   14 row bits from A[18], 10 column bits from A[3..10], A[11], A[12].
 * For A = 0x12345670: bank 0010b, then hash 0 ^ 1 flips bit 0 -> 3; row
 * 0x48D; column 0x2CE; chip select 0; no rank multiplier. */
#include "platform_topology_protocol.h"
#include "probe.h"
#include "translation_protocol.h"

enum { kCallerByte = 0xA5, kBankHashBitsOffset = 0xDE0 };
static const UINT64 kNormalized = 0x12345670;
static const UINT64 kAllOnes = 0xFFFFFFFFFFFFFFFFULL;

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
  NormalizedAddress in;
  FillBytes(&in, sizeof in);
  in.normalizedAddr = kNormalized;
  in.socketId = 0;
  in.dieId = 0;
  in.channelId = 0;
  DramAddress dram;
  FillBytes(&dram, sizeof dram);
  UINT64 system = 0;
  EFI_STATUS s = tp->NormalizedToSystem(&in, &system, &dram);
  bool ok = s == EFI_INVALID_PARAMETER && system == kAllOnes && dram.chipSelect == 0 &&
            dram.bank == 3 && dram.row == 0x48D && dram.col == 0x2CE && dram.rankMul == 0 &&
            BytesAre(&dram, 2, 4, kCallerByte) && BytesAre(&dram, 11, 12, kCallerByte) &&
            hashBits[0] == 1 && BytesAre(hashBits, 1, 5, 0);
  TextInit(&t);
  TextHex(TextAdd(&t, "status "), s);
  TextHexDigits(TextAdd(&t, " cs "), dram.chipSelect, 2);
  TextHexDigits(TextAdd(&t, " bank "), dram.bank, 2);
  TextHexDigits(TextAdd(&t, " row "), dram.row, 8);
  TextHexDigits(TextAdd(&t, " col "), dram.col, 4);
  TextHexDigits(TextAdd(&t, " rm "), dram.rankMul, 2);
  TextHexDigits(TextAdd(&t, " hash "), hashBits[0], 2);
  ProbeExpect(ctx, "slot1-norm-to-sys", ok, t.buf);

  /* Slot 2 on what slot 1 gave, and on the normalized address taken as a
   * system address: the all-ones record with ids 0, the caller's last four
   * bytes kept, the DRAM record untouched. */
  const UINT64 addresses[2] = {system, kNormalized};
  for (unsigned i = 0; i < 2; ++i) {
    NormalizedAddress out;
    FillBytes(&out, sizeof out);
    FillBytes(&dram, sizeof dram);
    UINT64 address = addresses[i];
    s = tp->SystemToNormalized(&address, &out, &dram);
    ok = s == EFI_INVALID_PARAMETER && out.normalizedAddr == kAllOnes && out.socketId == 0 &&
         out.dieId == 0 && out.channelId == 0 && out.reserved == 0 &&
         BytesAre(&out, 12, 16, kCallerByte) && BytesAre(&dram, 0, sizeof dram, kCallerByte);
    TextInit(&t);
    TextHex(TextAdd(&t, "system "), address);
    TextHex(TextAdd(&t, " status "), s);
    TextHex(TextAdd(&t, " normalized "), out.normalizedAddr);
    ProbeExpect(ctx, "slot2-sys-to-norm", ok, t.buf);
  }
}
