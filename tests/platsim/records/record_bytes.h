// Error records built byte by byte from the public layouts (ACPI Generic
// Error Status Block and Generic Error Data Entry, UEFI CPER memory error
// section, ACPI table header), independently of the decoder's structures.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace record_bytes {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes& b, size_t off, uint64_t v, unsigned width) {
  if (b.size() < off + width) b.resize(off + width);
  for (unsigned i = 0; i < width; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A5BC1114-6F64-4EDE-B863-3E83ED7C83B1, platform memory error section.
inline const Bytes kMemoryGuid = {0x14, 0x11, 0xBC, 0xA5, 0x64, 0x6F, 0xDE, 0x4E,
                                  0xB8, 0x63, 0x3E, 0x83, 0xED, 0x7C, 0x83, 0xB1};
// 9876CCAD-47B4-4BDB-B65E-16F193C4F3DB, generic processor error section.
inline const Bytes kProcessorGuid = {0xAD, 0xCC, 0x76, 0x98, 0xB4, 0x47, 0xDB, 0x4B,
                                     0xB6, 0x5E, 0x16, 0xF1, 0x93, 0xC4, 0xF3, 0xDB};
// D995E954-BBC1-430F-AD91-B44DCB3C6F35, PCI Express.
inline const Bytes kPcieGuid = {0x54, 0xE9, 0x95, 0xD9, 0xC1, 0xBB, 0x0F, 0x43,
                                0xAD, 0x91, 0xB4, 0x4D, 0xCB, 0x3C, 0x6F, 0x35};

// Memory error section: validation bits at 0, error status 8, physical
// address 16, mask 24, node 32, card 34, module 36, bank 38, device 40,
// row 42, column 44, bit position 46, requestor 48, responder 56, target 64,
// memory error type 72, extended 73, rank 74, card handle 76, module handle 78.
struct Memory {
  uint64_t valid = 0x2, status = 0, address = 0, mask = 0;
  uint16_t node = 0, card = 0, module = 0, bank = 0, device = 0, row = 0, column = 0, bit = 0;
  uint64_t requestor = 0, responder = 0, target = 0;
  uint8_t type = 0, extended = 0;
  uint16_t rank = 0, cardHandle = 0, moduleHandle = 0;

  Bytes Build() const {
    Bytes b(80, 0);
    Put(b, 0, valid, 8);
    Put(b, 8, status, 8);
    Put(b, 16, address, 8);
    Put(b, 24, mask, 8);
    const uint16_t words[] = {node, card, module, bank, device, row, column, bit};
    for (unsigned i = 0; i < 8; ++i) Put(b, 32 + 2 * i, words[i], 2);
    Put(b, 48, requestor, 8);
    Put(b, 56, responder, 8);
    Put(b, 64, target, 8);
    b[72] = type;
    b[73] = extended;
    Put(b, 74, rank, 2);
    Put(b, 76, cardHandle, 2);
    Put(b, 78, moduleHandle, 2);
    return b;
  }
};

// Generic processor error section, 192 bytes: validation bits at 0,
// processor type 8, ISA 9, error type 10, operation 11, flags 12, level 13,
// reserved 14-15, CPU version 16, brand string 24 (128 bytes), processor id
// 152, target address 160, requestor 168, responder 176, instruction IP 184.
struct Processor {
  uint64_t valid = 0;
  uint8_t type = 0, isa = 0, errorType = 0, operation = 0, flags = 0, level = 0;
  uint64_t version = 0;
  std::string brand;
  uint64_t id = 0, target = 0, requestor = 0, responder = 0, ip = 0;

  Bytes Build() const {
    Bytes b(192, 0);
    Put(b, 0, valid, 8);
    const uint8_t bytes[] = {type, isa, errorType, operation, flags, level};
    for (unsigned i = 0; i < 6; ++i) b[8 + i] = bytes[i];
    Put(b, 16, version, 8);
    for (size_t i = 0; i < brand.size() && i < 128; ++i) b[24 + i] = static_cast<uint8_t>(brand[i]);
    const uint64_t words[] = {id, target, requestor, responder, ip};
    for (unsigned i = 0; i < 5; ++i) Put(b, 152 + 8 * i, words[i], 8);
    return b;
  }
};

// Generic Error Data Entry: section type 0, severity 16, revision 20,
// validation bits 22, flags 23, error data length 24, FRU id 28, FRU text
// 44, timestamp 64 (revision 0x300 on), data after the header.
inline Bytes Entry(const Bytes& guid, const Bytes& data, uint16_t revision = 0x300,
                   uint32_t severity = 1, uint8_t valid = 0, uint8_t flags = 0,
                   uint64_t timestamp = 0, const std::string& fru = "", int64_t dataLength = -1) {
  const size_t header = revision >= 0x300 ? 72 : 64;
  Bytes b(header, 0);
  for (size_t i = 0; i < 16; ++i) b[i] = guid[i];
  Put(b, 16, severity, 4);
  Put(b, 20, revision, 2);
  b[22] = valid;
  b[23] = flags;
  Put(b, 24, dataLength < 0 ? data.size() : static_cast<uint64_t>(dataLength), 4);
  for (size_t i = 0; i < fru.size() && i < 20; ++i) b[44 + i] = static_cast<uint8_t>(fru[i]);
  if (header == 72) Put(b, 64, timestamp, 8);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// Generic Error Status Block: block status 0, raw data offset 4, raw data
// length 8, data length 12, error severity 16; entries from 20, raw data
// after them unless `rawOffset` says otherwise.
inline Bytes Block(uint32_t status, const Bytes& entries, const Bytes& raw = {},
                   uint32_t severity = 1, int64_t dataLength = -1, int64_t rawOffset = -1,
                   int64_t rawLength = -1) {
  Bytes b(20, 0);
  Put(b, 0, status, 4);
  Put(b, 4, rawOffset < 0 ? 20 + entries.size() : static_cast<uint64_t>(rawOffset), 4);
  Put(b, 8, rawLength < 0 ? raw.size() : static_cast<uint64_t>(rawLength), 4);
  Put(b, 12, dataLength < 0 ? entries.size() : static_cast<uint64_t>(dataLength), 4);
  Put(b, 16, severity, 4);
  return Cat({b, entries, raw});
}

// ACPI table: signature, Length 4, revision 8, checksum 9 (bytes sum to 0),
// OEM id 10, OEM table id 16, OEM revision 24, creator 28, creator revision
// 32, body from 36.
inline Bytes Table(const char* signature, const Bytes& body) {
  Bytes t(36, 0);
  for (unsigned i = 0; i < 4; ++i) t[i] = static_cast<uint8_t>(signature[i]);
  Put(t, 4, 36 + body.size(), 4);
  t[8] = 1;
  const char oem[] = "OEMID TABLEID ";
  for (unsigned i = 0; i < 14; ++i) t[10 + i] = static_cast<uint8_t>(oem[i]);
  t.insert(t.end(), body.begin(), body.end());
  uint8_t sum = 0;
  for (uint8_t x : t) sum = static_cast<uint8_t>(sum + x);
  t[9] = static_cast<uint8_t>(-sum);
  return t;
}

}  // namespace record_bytes
