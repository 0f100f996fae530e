// The platform's address map as the driver sees it: the DRAM address maps of
// the CCM, the MMIO hole, every memory channel (coherent slave) with its own
// map registers, second-map offset and normalized ranges, the DIMM geometry of
// its ChannelConfigTable slot, and what does not fit together.
//
// Everything comes from the registers the translations read, read through
// the driver's own fabric access and decoded by its own decoding functions;
// the normalized ranges are the driver's answers (TranslationProtocol slot 2)
// for the first and last byte each channel serves.
#pragma once

#include "addr_translate/fabric/fabric_decode.h"
#include "sim/platform/platform.h"
#include "tools/common/hex_text.h"
#include "tools/common/size_text.h"
#include "translation_protocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platsim::addrmap {

inline constexpr uint64_t k4G = 1ULL << 32;

// One valid DRAM address map of the CCM (the maps checkDramHit scans).
struct DramMap {
  unsigned index;  // 0..15, the order in which checkDramHit searches
  uint32_t baseReg, limitReg;
  atd::DramAddressMap map;
  atd::ChannelInterleave routing;      // checkDramHit's reading of chanIntlvCode
  atd::ChannelInterleave normalizing;  // calcNormAddr's reading
  uint32_t intLvAddrBit;
  uint32_t numInterleaveBits;  // as calcNormAddr counts them
  uint32_t dies, sockets;      // numDieInterleaved, numSocketsInterleaved
  // Address bits that calcNormAddr removes, ascending.
  std::vector<uint32_t> interleaveBits;
  uint64_t holeBytes;  // bytes of the MMIO hole inside the map (holeEn)
  // csFabricIds the fabric sends the map's addresses to, ascending; a
  // six-channel logical id that names no channel shows as atd::kNoOwner.
  std::vector<uint32_t> targets;
  // When its channels hold the map as their own map 1 (the second map): the
  // distinct hiAddrOffset values they subtract from its normalized addresses.
  bool secondMap;
  std::vector<uint64_t> hiAddrOffsets;

  uint64_t Size() const { return map.dramLimitAddr - map.dramBaseAddr + 1; }
  uint64_t Granule() const { return intLvAddrBit < 64 ? 1ULL << intLvAddrBit : 0; }
};

// One of the two map register pairs a channel holds itself (F0x110/F0x114
// for map 0, F0x118/F0x11C for map 1).
struct OwnMap {
  uint32_t baseReg, limitReg;
  atd::DramAddressMap map;
  int ccmMap;  // index of the CCM map with the same range, or -1
};

// The normalized addresses one channel serves within one CCM map.
struct NormRange {
  unsigned map;  // CCM map index
  bool known;    // false: the driver did not place the first or last byte here
  uint64_t first, last;
  uint64_t firstSys, lastSys;  // the system addresses they came from
};

// DIMM geometry of one chip-select pair, from its addrCfg word.
struct PairGeometry {
  unsigned pair;
  unsigned chipSelects;  // populated chip selects of the pair (csPresent)
  unsigned bankBits, rowBits, colBits, rmBits;
  uint64_t BytesPerChipSelect() const;  // one 64-bit beat per coordinate
};

struct Dimms {
  unsigned slot;                    // (socket + die) * 8 + channel
  bool hasSlot;                     // slot < 16
  std::vector<PairGeometry> pairs;  // pairs with populated chip selects
  uint64_t capacity;
};

struct Channel {
  unsigned socket, die, channel, node;  // channel = the coherent slave's instance id
  uint32_t fabricId;                    // F0x50 bits 15:8
  OwnMap own[2];                        // invalid maps have own[i].map.valid false
  bool hiAddrOffsetEnabled;
  uint64_t hiAddrOffset;
  std::vector<NormRange> ranges;  // one per CCM map that targets the channel
  Dimms dimms;

  // DIMMs in its ChannelConfigTable slot, or a valid map register pair.
  bool Populated() const { return dimms.capacity != 0 || own[0].map.valid || own[1].map.valid; }
};

enum class FindingKind { Overlap, Gap, ChannelWithoutMap, MapWithoutChannels, MapMismatch };
const char* FindingName(FindingKind k);  // "overlap", "gap", ...

struct Finding {
  FindingKind kind;
  std::string text;
  uint64_t from = 0, to = 0;  // the address range concerned (inclusive), if any
};

struct AddressMap {
  atd::FabricIdMasks masks;
  uint32_t ccmInstance;  // atd::kNoCcmInstance: none, the maps answer broadcast reads
  uint32_t reg104;
  uint64_t holeBase;              // dramHoleBase
  bool hasHole;                   // holeBase != 0, or a map has holeEn
  uint32_t logicalChannelMap[2];  // F0x60 (socket 0), F0x68 (other sockets)
  std::vector<DramMap> maps;      // valid maps, ascending index
  std::vector<Channel> channels;  // ascending socket, die, channel
  std::vector<Finding> findings;
  uint64_t top;  // one past the highest mapped byte (0: no map)

  const Channel* ChannelById(uint32_t fabricId) const;
  bool InHole(uint64_t a) const { return hasHole && a >= holeBase && a < k4G; }
};

// Reads the address map of `p` (the current platform), with AddrTranslateDxe
// started on it and `protocol` the TranslationProtocol it installed.
AddressMap Read(sim::Platform& p, TranslationProtocol& protocol);

// The csFabricId the fabric sends address `a` of map `m` to (checkDramHit's
// selection, without its map search), or atd::kNoOwner.
uint32_t Route(const AddressMap& am, const DramMap& m, uint64_t a);

// Slot 2 of the driver for system address `a`: true and *out filled when it
// succeeds; false when it fails or the driver ends in a fatal stop.
bool SystemToNormalized(TranslationProtocol& protocol, uint64_t a, NormalizedAddress* out);

// The same map's last DRAM byte (below the hole if the map ends inside it).
uint64_t LastDramByte(const AddressMap& am, const DramMap& m);

// "socket 0 die 1" / "socket 0 dies 0-1" / "sockets 0-1 die 0": who a map's
// targets belong to.
std::string OwnerText(const AddressMap& am, const DramMap& m);

// The map's numbers: "0x1F", sizes as "16 GiB" or "~4.01 KiB" (tools/common).
using tools::Hex;
using tools::SizeText;

// "0x00043FFFFFFF", a 48-bit system address as the fabric has them.
std::string Addr(uint64_t v);

}  // namespace platsim::addrmap
