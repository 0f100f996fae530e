// Data-fabric configuration registers, each field declared once by its bit
// range: the address translations decode them, the simulator's topology
// builder encodes them and names them in its traces, and platsim reads them.
// Everything here is constexpr.
#pragma once

#include "hw/register_field.h"

#include <cstdint>

namespace atd {

using hw::Bits;

// A register of the fabric: fabric function number and dword offset.
struct FabricReg {
  uint8_t function;
  uint16_t offset;
};

// Instance id that makes an access a broadcast read.
inline constexpr uint8_t kBroadcastInstance = 0xFF;

namespace fabric_reg {

// Function 4 of each node's PCI device: the indirect-access window.
inline constexpr uint64_t kEcamBase = 0xE0000000ULL;
inline constexpr uint8_t kFirstNodeDevice = 0x18;
inline constexpr uint8_t kWindowFunction = 4;
inline constexpr uint16_t kAccessAddressReg = 0x5C;
inline constexpr uint16_t kAccessDataReg = 0x98;
// Every function of a node's device answers with this vendor id in bits 15:0
// of its register 0: how a reader tells a node that is present.
inline constexpr uint16_t kNodeVendorId = 0x1022;

// The value written to the access-address register.
struct AccessAddress {
  using InstanceAccess = Bits<0, 0>;  // 1: the one instance in InstanceId; 0: broadcast
  using OffsetDword = Bits<9, 2>;     // register offset bits 9:2
  using Function = Bits<13, 11>;
  using InstanceId = Bits<23, 16>;
};

// F1x208: fabric-id layout select and, in the Combined layout, the id fields.
struct SystemFabricIdMask0 {
  static constexpr const char* kName = "SystemFabricIdMask0";
  static constexpr FabricReg kReg{1, 0x208};
  using LayoutSelect = Bits<7, 0>;   // 0: Combined, otherwise Extended
  using DieMask = Bits<15, 8>;       // Combined
  using SocketMask = Bits<23, 16>;   // Combined
  using DieShift = Bits<27, 24>;     // Combined
  using SocketShift = Bits<31, 28>;  // Combined
  using NodeMask = Bits<25, 16>;     // Extended
};

// F1x20C: the id fields of the Extended layout.
struct SystemFabricIdMask1 {
  static constexpr const char* kName = "SystemFabricIdMask1";
  static constexpr FabricReg kReg{1, 0x20C};
  using NodeIdShift = Bits<3, 0>;
  using SocketShiftAboveNode = Bits<9, 8>;
  using DieIdMask = Bits<18, 16>;     // unshifted (node-id space)
  using SocketIdMask = Bits<26, 24>;  // unshifted (node-id space)
};

// F0x3F8: hash enables of the Extended layout.
struct HashControl {
  static constexpr const char* kName = "HashControl";
  static constexpr FabricReg kReg{0, 0x3F8};
  using Hash64KEnable = Bits<20, 20>;
  using Hash2MEnable = Bits<21, 21>;
  using Hash1GEnable = Bits<22, 22>;
};

// F0x40: number of fabric block instances.
struct BlockInstanceCount {
  static constexpr const char* kName = "BlockInstanceCount";
  static constexpr FabricReg kReg{0, 0x40};
  using Count = Bits<7, 0>;
};

// F0x44 (per instance): block information; whole value 0 means no block.
struct BlockInstanceInfo {
  static constexpr const char* kName = "BlockInstanceInfo";
  static constexpr FabricReg kReg{0, 0x44};
  using InstanceType = Bits<3, 0>;  // 0: CCM
};

// F0x50 (per coherent slave): its fabric id.
struct BlockFabricId {
  static constexpr const char* kName = "BlockFabricId";
  static constexpr FabricReg kReg{0, 0x50};
  using FabricId = Bits<15, 8>;
};

// F0x60 / F0x68: physical coherent slave of each logical six-channel index,
// eight nibbles; 0x60 for socket 0, 0x68 for every other socket.
struct LogicalChannelMap {
  static constexpr FabricReg kSocket0{0, 0x60};
  static constexpr FabricReg kOtherSockets{0, 0x68};
  static constexpr const char* kSocket0Name = "LogicalChannelMap0";
  static constexpr const char* kOtherSocketsName = "LogicalChannelMap1";
};

// F0x104: MMIO hole below 4 GiB.
struct DramHoleControl {
  static constexpr const char* kName = "DramHoleControl";
  static constexpr FabricReg kReg{0, 0x104};
  using HoleBase = Bits<31, 24>;  // address bits 31:24
};

// F0x110 + 8m / F0x114 + 8m: base and limit of DRAM address map m.
struct DramBaseAddress {
  static constexpr const char* kName = "DramBaseAddress";
  static constexpr FabricReg kMap0{0, 0x110};
  static constexpr uint16_t kMapStride = 8;
  using Valid = Bits<0, 0>;
  using HoleEn = Bits<1, 1>;
  using ChanIntlvCombined = Bits<7, 4>;
  using IntLvAddrSelCombined = Bits<10, 8>;
  using ChanIntlvExtended = Bits<5, 2>;
  using DieIntlvExtended = Bits<7, 6>;
  using SocketIntlvExtended = Bits<8, 8>;
  using IntLvAddrSelExtended = Bits<11, 9>;
  using Address = Bits<31, 12>;  // address bits 47:28
};

struct DramLimitAddress {
  static constexpr const char* kName = "DramLimitAddress";
  static constexpr FabricReg kMap0{0, 0x114};
  using DstFabricIdCombined = Bits<7, 0>;
  using SocketIntlvCombined = Bits<8, 8>;
  using DieIntlvCombined = Bits<11, 10>;
  using DstFabricIdExtended = Bits<9, 0>;
  using Address = Bits<31, 12>;  // address bits 47:28 of the last 256 MiB
};

// F0x1B4 (per coherent slave): offset of the normalized addresses of map 1.
struct HiAddrOffsetControl {
  static constexpr const char* kName = "HiAddrOffsetControl";
  static constexpr FabricReg kReg{0, 0x1B4};
  using Enable = Bits<0, 0>;
  using OffsetCombined = Bits<31, 20>;  // address bits 39:28
  using OffsetExtended = Bits<31, 12>;  // address bits 47:28
};

// F2x90 (per coherent slave): size bits of the six-channel interleave.
struct NonPow2Size {
  static constexpr const char* kName = "NonPow2Size";
  static constexpr FabricReg kReg{2, 0x90};
  using NonPow2SizeBits = Bits<5, 0>;
};

inline constexpr FabricReg DramBaseReg(unsigned map) {
  return {0,
          static_cast<uint16_t>(DramBaseAddress::kMap0.offset + DramBaseAddress::kMapStride * map)};
}
inline constexpr FabricReg DramLimitReg(unsigned map) {
  return {
      0, static_cast<uint16_t>(DramLimitAddress::kMap0.offset + DramBaseAddress::kMapStride * map)};
}

inline constexpr unsigned kMapCount = 16;

// Where a register's value lives, and so how a reader reaches it.
enum class RegisterScope : uint8_t {
  FabricWide,   // one value for the whole fabric: a broadcast read through node 0
  BlockList,    // one value per fabric block, read through node 0: the block list
  Slave,        // a coherent slave's own, read through the node that owns it
  SlaveAndCcm,  // the same, and the CCM's (through node 0; by broadcast when
                // no CCM is found)
};

// The DRAM address maps: the CCM holds all kMapCount, a coherent slave its
// own maps 0 and 1.
inline constexpr unsigned kSlaveMapCount = 2;

struct ListedRegister {
  FabricReg reg;
  const char* name;
  RegisterScope scope;
};

template <typename R>
constexpr ListedRegister Listed(RegisterScope scope) {
  return {R::kReg, R::kName, scope};
}

// Every single register the translations read, from the declarations above;
// the DRAM address maps (DramBaseReg(m), DramLimitReg(m)) come on top. A
// reader that must see all the translations can see (the capture of a
// platform) walks this list and the maps.
inline constexpr ListedRegister kSingleRegisters[] = {
    Listed<SystemFabricIdMask0>(RegisterScope::FabricWide),
    Listed<SystemFabricIdMask1>(RegisterScope::FabricWide),
    Listed<HashControl>(RegisterScope::FabricWide),
    Listed<BlockInstanceCount>(RegisterScope::FabricWide),
    {LogicalChannelMap::kSocket0, LogicalChannelMap::kSocket0Name, RegisterScope::FabricWide},
    {LogicalChannelMap::kOtherSockets, LogicalChannelMap::kOtherSocketsName,
     RegisterScope::FabricWide},
    Listed<BlockInstanceInfo>(RegisterScope::BlockList),
    Listed<BlockFabricId>(RegisterScope::Slave),
    Listed<DramHoleControl>(RegisterScope::SlaveAndCcm),
    Listed<HiAddrOffsetControl>(RegisterScope::Slave),
    Listed<NonPow2Size>(RegisterScope::Slave),
};

}  // namespace fabric_reg

// The access-address value for instance `instance` (0xFF: broadcast) of
// register `offset` of fabric function `function`.
constexpr uint32_t fabricAccessValue(uint8_t instance, uint8_t function, uint16_t offset) {
  using A = fabric_reg::AccessAddress;
  return A::InstanceId::Put(instance) | A::Function::Put(function) | (offset & 0x3FCu) |
         A::InstanceAccess::Put(instance != kBroadcastInstance ? 1u : 0u);
}

// PCI device that carries node `node`'s window: (0x18 + node) modulo 32.
constexpr uint8_t fabricNodeDevice(uint32_t node) {
  return static_cast<uint8_t>((fabric_reg::kFirstNodeDevice + node) & 0x1Fu);
}

// ECAM address of register `reg` of the window function of node `node`.
constexpr uint64_t fabricWindowAddress(uint32_t node, uint16_t reg) {
  return fabric_reg::kEcamBase + (uint64_t{fabricNodeDevice(node)} << 15) +
         (uint64_t{fabric_reg::kWindowFunction} << 12) + reg;
}

}  // namespace atd
