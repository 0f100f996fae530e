#include "mem_tune/controller_readout.h"

#include "hw/hw.h"
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/mem_clock_table.h"

namespace mts {

namespace {

constexpr UINT64 ConfigOffset(uint8_t bus, uint8_t device, uint8_t function, uint16_t reg) {
  return UINT64(bus) * 0x100000 + UINT64(device) * 0x8000 + UINT64(function) * 0x1000 + reg;
}

// Bits hi:lo of `value`, right-aligned.
constexpr uint32_t Bits(uint32_t value, unsigned hi, unsigned lo) {
  const unsigned width = hi - lo + 1;
  const uint32_t mask = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1);
  return (value >> lo) & mask;
}

constexpr uint32_t kClockRegister = 0x200;

bool ChannelInUse(uint8_t bus, uint32_t block) {
  return Bits(ReadIndirectReg(bus, block + kClockRegister), 6, 0) != 0;
}

struct Channel {
  uint8_t bus;
  uint32_t block;
};

bool FindChannel(uint32_t signature, Channel* found) {
  const uint32_t lastChannel =
      (signature == kSignatureEightChannels || signature == kSignatureEightChannelsOtherDies) ? 7
                                                                                              : 1;
  for (uint32_t n = 0; n <= lastChannel; ++n) {
    const uint32_t block = kChannelBlockBase + n * kChannelBlockStride;
    if (ChannelInUse(0, block)) {
      *found = {0, block};
      return true;
    }
  }
  if (signature != kSignatureUnservedOtherDies && signature != kSignatureEightChannelsOtherDies)
    return false;
  // The other dies: devices 0x19-0x1F of bus 0 name their buses.
  for (uint8_t j = 1; j <= 7; ++j) {
    const uint8_t device = static_cast<uint8_t>(0x18 + j);
    if ((PciExpressRead32(ConfigOffset(0, device, 0, 0)) & 0xFFFF) != kVendorIdValue) continue;
    const uint8_t bus =
        static_cast<uint8_t>(PciExpressRead32(ConfigOffset(0, device, 0, kBusNumberRegister)));
    for (uint32_t n = 0; n <= 1; ++n) {
      const uint32_t block = kChannelBlockBase + n * kChannelBlockStride;
      if (ChannelInUse(bus, block)) {
        *found = {bus, block};
        return true;
      }
    }
  }
  return false;
}

// Little-endian stores into the shared mailbox at a byte offset.
void Put8(MemTuneMailbox* m, uint8_t offset, uint32_t v) {
  reinterpret_cast<uint8_t*>(m)[offset] = static_cast<uint8_t>(v);
}
void Put16(MemTuneMailbox* m, uint8_t offset, uint32_t v) {
  Put8(m, offset, v & 0xFF);
  Put8(m, offset + 1, (v >> 8) & 0xFF);
}

// Copies `width` settings bytes from `from` to mailbox offset `to`.
void CopySetting(MemTuneMailbox* m, uint8_t from, uint8_t width, uint8_t to) {
  if (gSettingsRecord == nullptr) return;
  for (uint8_t i = 0; i < width; ++i) Put8(m, to + i, gSettingsRecord[from + i]);
}

}  // namespace

uint32_t PciExpressRead32(UINT64 offset) {
  if (!gEcamReady || offset >= gEcamSize) return 0xFFFFFFFF;
  return hw::MmioRead32(gEcamBase + offset);
}

void PciExpressWrite32(UINT64 offset, uint32_t value) {
  if (!gEcamReady || offset >= gEcamSize) return;
  hw::MmioWrite32(gEcamBase + offset, value);
}

uint32_t ReadIndirectReg(uint8_t bus, uint32_t address) {
  PciExpressWrite32(ConfigOffset(bus, 0, 0, kIndexRegister), address);
  return PciExpressRead32(ConfigOffset(bus, 0, 0, kDataRegister));
}

EFI_STATUS ReadControllerConfig(MemTuneMailbox* mailbox, const MemTuneMailbox& request) {
  Channel ch{};
  if (!FindChannel(ProcessorSignature(), &ch)) return EFI_NOT_FOUND;
  auto reg = [&ch](uint32_t r) { return ReadIndirectReg(ch.bus, ch.block + r); };
  EFI_STATUS result = EFI_SUCCESS;
  MemTuneMailbox* m = mailbox;

  uint32_t v = reg(0x200);
  const uint16_t code = static_cast<uint16_t>(Bits(v, 6, 0));
  if (const MemClockRow* row = FindMemClockByCode(code)) {
    Put16(m, 0x14, row->value);
  } else {
    Put16(m, 0x14, code);
    result = EFI_NOT_FOUND;
  }
  v = reg(0x204);
  Put8(m, 0x16, Bits(v, 5, 0));
  Put8(m, 0x19, Bits(v, 14, 8));
  Put8(m, 0x17, Bits(v, 21, 16));
  Put8(m, 0x18, Bits(v, 29, 24));
  v = reg(0x208);
  Put8(m, 0x1A, Bits(v, 21, 16));
  CopySetting(m, 0x25, 2, 0x21);
  v = reg(0x21C);
  Put16(m, 0x23, Bits(v, 31, 20));
  v = reg(0x208);
  Put8(m, 0x25, Bits(v, 7, 0));
  v = reg(0x260);
  Put16(m, 0x26, Bits(v, 10, 0));
  Put16(m, 0x28, Bits(v, 21, 11));
  Put16(m, 0x2A, Bits(v, 31, 22));
  v = reg(0x210);
  Put8(m, 0x2C, Bits(v, 6, 0));
  v = reg(0x20C);
  Put8(m, 0x2D, Bits(v, 4, 0));
  Put8(m, 0x2E, Bits(v, 12, 8));
  Put8(m, 0x34, Bits(v, 28, 24));
  v = reg(0x218);
  Put8(m, 0x2F, Bits(v, 6, 0));
  v = reg(0x214);
  Put8(m, 0x33, Bits(v, 5, 0));
  Put8(m, 0x30, Bits(v, 12, 8));
  Put8(m, 0x31, Bits(v, 22, 16));
  v = reg(0x254);
  Put8(m, 0x32, Bits(v, 28, 24));
  v = reg(0x220);
  Put8(m, 0x38, Bits(v, 3, 0));
  Put8(m, 0x37, Bits(v, 11, 8));
  Put8(m, 0x35, Bits(v, 19, 16));
  Put8(m, 0x36, Bits(v, 27, 24));
  v = reg(0x224);
  Put8(m, 0x3C, Bits(v, 3, 0));
  Put8(m, 0x3B, Bits(v, 11, 8));
  Put8(m, 0x39, Bits(v, 19, 16));
  Put8(m, 0x3A, Bits(v, 27, 24));
  v = reg(0x228);
  Put8(m, 0x3E, Bits(v, 3, 0));
  Put8(m, 0x3D, Bits(v, 12, 8));
  v = reg(0x200);
  Put8(m, 0x3F, Bits(v, 11, 11));
  Put8(m, 0x40, Bits(v, 10, 10));
  CopySetting(m, 0x22, 1, 0x41);
  CopySetting(m, 0x23, 1, 0x42);
  CopySetting(m, 0x24, 1, 0x43);
  v = reg(0x12C);
  Put8(m, 0x44, Bits(v, 28, 28));

  CopySetting(m, 0x08, 1, 0x45);
  CopySetting(m, 0x09, 4, 0x46);
  CopySetting(m, 0x0D, 4, 0x4A);
  CopySetting(m, 0x11, 1, 0x4E);
  CopySetting(m, 0x12, 2, 0x54);
  CopySetting(m, 0x14, 4, 0x4F);
  CopySetting(m, 0x18, 1, 0x53);
  CopySetting(m, 0x19, 7, 0x56);
  CopySetting(m, 0x20, 2, 0x5D);
  CopySetting(m, 0x27, 1, 0x5F);
  CopySetting(m, 0x28, 4, 0x60);
  CopySetting(m, 0x2C, 4, 0x64);
  CopySetting(m, 0x30, 4, 0x68);
  CopySetting(m, 0x34, 4, 0x6C);
  CopySetting(m, 0x38, 4, 0x70);
  CopySetting(m, 0x3C, 4, 0x74);
  Put8(m, 0x78, request.CallerC8);
  Put8(m, 0x79, request.CallerC9);
  Put16(m, 0x7A, 0);
  Put8(m, 0x7C, 0);
  return result;
}

}  // namespace mts
