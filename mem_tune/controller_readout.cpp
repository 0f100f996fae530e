#include "mem_tune/controller_readout.h"

#include "hw/hw.h"
#include "hw/register_field.h"
#include "mem_tune/driver_entry.h"
#include "mem_tune/driver_globals.h"
#include "mem_tune/mailbox_field.h"
#include "mem_tune/mem_clock_table.h"
#include "mem_tune_provider.h"
#include "registers/fabric_registers.h"
#include "registers/memory_controller.h"

namespace mts {

namespace {

using namespace controller_reg;

constexpr UINT64 ConfigOffset(uint8_t bus, uint8_t device, uint8_t function, uint16_t reg) {
  return UINT64(bus) * 0x100000 + UINT64(device) * 0x8000 + UINT64(function) * 0x1000 + reg;
}

// Register 0x200 of a channel's block: the memory-clock code (0: the channel
// is not in use) and two mode bits.
constexpr uint16_t kClockRegister = 0x200;
using ClockCode = hw::Bits<6, 0>;

// The index register of a bus is shared with every other agent that reads the
// controller, and an SMI can land between such an agent's index write and its
// data read. The readout reads through this keeper: it saves a bus's index
// register before its first index write there and puts every saved value
// back, in the order saved, when the readout returns (on every path).
class IndexRegisterKeeper {
 public:
  IndexRegisterKeeper() = default;
  IndexRegisterKeeper(const IndexRegisterKeeper&) = delete;
  IndexRegisterKeeper& operator=(const IndexRegisterKeeper&) = delete;
  ~IndexRegisterKeeper() {
    for (unsigned i = 0; i < count_; ++i)
      PciExpressWrite32(ConfigOffset(saved_[i].bus, 0, 0, kIndexRegister), saved_[i].index);
  }

  uint32_t Read(uint8_t bus, uint32_t address) {
    Save(bus);
    return ReadIndirectReg(bus, address);
  }

 private:
  void Save(uint8_t bus) {
    for (unsigned i = 0; i < count_; ++i)
      if (saved_[i].bus == bus) return;
    if (count_ == kMaxBuses) return;  // cannot happen: bus 0 and seven other dies
    saved_[count_++] = {bus, PciExpressRead32(ConfigOffset(bus, 0, 0, kIndexRegister))};
  }

  static constexpr unsigned kMaxBuses = 8;
  struct Saved {
    uint8_t bus;
    uint32_t index;
  };
  Saved saved_[kMaxBuses];
  unsigned count_ = 0;
};

bool ChannelInUse(IndexRegisterKeeper& regs, uint8_t bus, uint32_t block) {
  return ClockCode::Get(regs.Read(bus, block + kClockRegister)) != 0;
}

struct Channel {
  uint8_t bus;
  uint32_t block;
};

bool FindChannel(IndexRegisterKeeper& regs, uint32_t signature, Channel* found) {
  const uint32_t lastChannel =
      (signature == kSignatureEightChannels || signature == kSignatureEightChannelsOtherDies) ? 7
                                                                                              : 1;
  for (uint32_t n = 0; n <= lastChannel; ++n) {
    const uint32_t block = ChannelBlock(n);
    if (ChannelInUse(regs, 0, block)) {
      *found = {0, block};
      return true;
    }
  }
  if (signature != kSignatureUnservedOtherDies && signature != kSignatureEightChannelsOtherDies)
    return false;
  // The other dies: devices 0x19-0x1F of bus 0 name their buses.
  for (uint8_t j = 1; j <= 7; ++j) {
    const uint8_t device = static_cast<uint8_t>(atd::fabric_reg::kFirstNodeDevice + j);
    if ((PciExpressRead32(ConfigOffset(0, device, 0, 0)) & 0xFFFF) != kVendorIdValue) continue;
    const uint8_t bus =
        static_cast<uint8_t>(PciExpressRead32(ConfigOffset(0, device, 0, kBusNumberRegister)));
    for (uint32_t n = 0; n <= 1; ++n) {
      const uint32_t block = ChannelBlock(n);
      if (ChannelInUse(regs, bus, block)) {
        *found = {bus, block};
        return true;
      }
    }
  }
  return false;
}

// Where a value field of the readout comes from: a bit field of a register of
// the channel's block, or bytes of the settings record copied unchanged.
enum class ReadoutSource : uint8_t { Register, Settings };

struct ReadoutRow {
  ReadoutSource source;
  uint16_t from;  // register offset within the block, or settings offset
  uint8_t low;    // register rows: the field's bits, right-aligned
  uint32_t mask;
  MailboxField to;
};

template <unsigned Hi, unsigned Lo>
constexpr ReadoutRow FromRegister(uint16_t reg, hw::Bits<Hi, Lo>, MailboxField to) {
  return {ReadoutSource::Register, reg, Lo, hw::Bits<Hi, Lo>::kMask, to};
}
constexpr ReadoutRow FromSettings(uint16_t offset, MailboxField to) {
  return {ReadoutSource::Settings, offset, 0, 0, to};
}

// Everything the readout fills after the clock, in reading order. Adjacent
// rows of one register share one read; a register that comes back later
// (0x208, 0x200) is read again, as the controller's readers expect.
constexpr ReadoutRow kReadoutTable[] = {
    FromRegister(0x204, hw::Bits<5, 0>{}, MTS_MAILBOX_FIELD(tCL)),
    FromRegister(0x204, hw::Bits<14, 8>{}, MTS_MAILBOX_FIELD(tRAS)),
    FromRegister(0x204, hw::Bits<21, 16>{}, MTS_MAILBOX_FIELD(tRCDRD)),
    FromRegister(0x204, hw::Bits<29, 24>{}, MTS_MAILBOX_FIELD(tRCDWR)),
    FromRegister(0x208, hw::Bits<21, 16>{}, MTS_MAILBOX_FIELD(tRP)),
    FromSettings(0x25, MTS_MAILBOX_FIELD(Setting25)),
    FromRegister(0x21C, hw::Bits<31, 20>{}, MTS_MAILBOX_FIELD(tREFI)),
    FromRegister(0x208, hw::Bits<7, 0>{}, MTS_MAILBOX_FIELD(tRC)),
    FromRegister(0x260, hw::Bits<10, 0>{}, MTS_MAILBOX_FIELD(tRFC1)),
    FromRegister(0x260, hw::Bits<21, 11>{}, MTS_MAILBOX_FIELD(tRFC2)),
    FromRegister(0x260, hw::Bits<31, 22>{}, MTS_MAILBOX_FIELD(tRFC4)),
    FromRegister(0x210, hw::Bits<6, 0>{}, MTS_MAILBOX_FIELD(tFAW)),
    FromRegister(0x20C, hw::Bits<4, 0>{}, MTS_MAILBOX_FIELD(tRRDS)),
    FromRegister(0x20C, hw::Bits<12, 8>{}, MTS_MAILBOX_FIELD(tRRDL)),
    FromRegister(0x20C, hw::Bits<28, 24>{}, MTS_MAILBOX_FIELD(tRTP)),
    FromRegister(0x218, hw::Bits<6, 0>{}, MTS_MAILBOX_FIELD(tWR)),
    FromRegister(0x214, hw::Bits<5, 0>{}, MTS_MAILBOX_FIELD(tCWL)),
    FromRegister(0x214, hw::Bits<12, 8>{}, MTS_MAILBOX_FIELD(tWTRS)),
    FromRegister(0x214, hw::Bits<22, 16>{}, MTS_MAILBOX_FIELD(tWTRL)),
    FromRegister(0x254, hw::Bits<28, 24>{}, MTS_MAILBOX_FIELD(tCKE)),
    FromRegister(0x220, hw::Bits<3, 0>{}, MTS_MAILBOX_FIELD(tRDRDSCL)),
    FromRegister(0x220, hw::Bits<11, 8>{}, MTS_MAILBOX_FIELD(tRDRDSC)),
    FromRegister(0x220, hw::Bits<19, 16>{}, MTS_MAILBOX_FIELD(tRDRDSD)),
    FromRegister(0x220, hw::Bits<27, 24>{}, MTS_MAILBOX_FIELD(tRDRDDD)),
    FromRegister(0x224, hw::Bits<3, 0>{}, MTS_MAILBOX_FIELD(tWRWRSCL)),
    FromRegister(0x224, hw::Bits<11, 8>{}, MTS_MAILBOX_FIELD(tWRWRSC)),
    FromRegister(0x224, hw::Bits<19, 16>{}, MTS_MAILBOX_FIELD(tWRWRSD)),
    FromRegister(0x224, hw::Bits<27, 24>{}, MTS_MAILBOX_FIELD(tWRWRDD)),
    FromRegister(0x228, hw::Bits<3, 0>{}, MTS_MAILBOX_FIELD(tWRRD)),
    FromRegister(0x228, hw::Bits<12, 8>{}, MTS_MAILBOX_FIELD(tRDWR)),
    FromRegister(kClockRegister, hw::Bits<11, 11>{}, MTS_MAILBOX_FIELD(GearDownMode)),
    FromRegister(kClockRegister, hw::Bits<10, 10>{}, MTS_MAILBOX_FIELD(Cmd2T)),
    FromSettings(0x22, MTS_MAILBOX_FIELD(Setting22)),
    FromSettings(0x23, MTS_MAILBOX_FIELD(Setting23)),
    FromSettings(0x24, MTS_MAILBOX_FIELD(Setting24)),
    FromRegister(0x12C, hw::Bits<28, 28>{}, MTS_MAILBOX_FIELD(PowerDown)),
    FromSettings(0x08, MTS_MAILBOX_FIELD(Setting08)),
    FromSettings(0x09, MTS_MAILBOX_FIELD(Setting09)),
    FromSettings(0x0D, MTS_MAILBOX_FIELD(Setting0D)),
    FromSettings(0x11, MTS_MAILBOX_FIELD(Setting11)),
    FromSettings(0x12, MTS_MAILBOX_FIELD(Setting12)),
    FromSettings(0x14, MTS_MAILBOX_FIELD(Setting14)),
    FromSettings(0x18, MTS_MAILBOX_FIELD(Setting18)),
    FromSettings(0x19, MTS_MAILBOX_FIELD(Setting19)),  // 0x19-0x1F, byte for byte
    FromSettings(0x20, MTS_MAILBOX_FIELD(Setting20)),
    FromSettings(0x27, MTS_MAILBOX_FIELD(Setting27)),
    FromSettings(0x28, MTS_MAILBOX_FIELD(Setting28)),
    FromSettings(0x2C, MTS_MAILBOX_FIELD(Setting2C)),
    FromSettings(0x30, MTS_MAILBOX_FIELD(Setting30)),
    FromSettings(0x34, MTS_MAILBOX_FIELD(Setting34)),
    FromSettings(0x38, MTS_MAILBOX_FIELD(Setting38)),
    FromSettings(0x3C, MTS_MAILBOX_FIELD(Setting3C)),
};

constexpr bool RowsStayInsideTheirRecords() {
  for (const ReadoutRow& row : kReadoutTable) {
    if (row.to.offset + row.to.width > sizeof(MemTuneMailbox)) return false;
    if (row.source == ReadoutSource::Settings && row.from + row.to.width > kSettingsRecordSize)
      return false;
  }
  return true;
}
static_assert(RowsStayInsideTheirRecords());

// Settings bytes are copied only when there is a settings record.
void CopySettings(MemTuneMailbox* m, const ReadoutRow& row) {
  if (gSettingsRecord == nullptr) return;
  auto* bytes = reinterpret_cast<uint8_t*>(m);
  for (uint8_t i = 0; i < row.to.width; ++i)
    bytes[row.to.offset + i] = gSettingsRecord[row.from + i];
}

}  // namespace

uint32_t ReadIndirectReg(uint8_t bus, uint32_t address) {
  PciExpressWrite32(ConfigOffset(bus, 0, 0, kIndexRegister), address);
  return PciExpressRead32(ConfigOffset(bus, 0, 0, kDataRegister));
}

EFI_STATUS ReadControllerConfig(MemTuneMailbox* mailbox, const MemTuneMailbox& request) {
  IndexRegisterKeeper regs;  // restores the index registers when this returns
  Channel ch{};
  if (!FindChannel(regs, ProcessorSignature(), &ch)) return EFI_NOT_FOUND;

  EFI_STATUS result = EFI_SUCCESS;
  const uint16_t code =
      static_cast<uint16_t>(ClockCode::Get(regs.Read(ch.bus, ch.block + kClockRegister)));
  if (const MemClockRow* row = FindMemClockByCode(code)) {
    mailbox->MemClock = row->value;
  } else {
    mailbox->MemClock = code;  // reported raw
    result = EFI_NOT_FOUND;
  }

  uint32_t value = 0;
  uint16_t lastRegister = 0xFFFF;
  for (const ReadoutRow& row : kReadoutTable) {
    if (row.source == ReadoutSource::Settings) {
      CopySettings(mailbox, row);
      continue;
    }
    if (row.from != lastRegister) value = regs.Read(ch.bus, ch.block + row.from);
    lastRegister = row.from;
    WriteMailboxField(mailbox, row.to, (value >> row.low) & row.mask);
  }

  mailbox->EchoC8 = request.CallerC8;
  mailbox->EchoC9 = request.CallerC9;
  mailbox->Reserved7A = 0;
  mailbox->Option7C = 0;
  return result;
}

}  // namespace mts
