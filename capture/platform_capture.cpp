#include "capture/platform_capture.h"

#include "addr_translate/fabric/fabric_access.h"
#include "diag/format.h"
#include "hw/hw.h"
#include "registers/fabric_registers.h"

namespace capture {

namespace {

namespace reg = atd::fabric_reg;
using reg::RegisterScope;

constexpr uint32_t kMaxNodes = 8;

bool EcamReadConfig(void*, uint8_t device, uint8_t function, uint16_t offset, uint32_t* value) {
  *value = hw::MmioRead32(reg::kEcamBase + (uint64_t{device} << 15) + (uint64_t{function} << 12) +
                          offset);
  return true;
}

bool EcamReadRegister(void*, uint32_t node, uint8_t function, uint16_t offset, uint32_t instance,
                      uint32_t* value) {
  *value = atd::readFabricRegister(node, function, offset, instance);
  return true;
}

// The profile's "fabric" list as it is read: one line per register.
class RegisterWriter {
 public:
  RegisterWriter(const FabricPort& port, ProfileText& text, CaptureResult& result)
      : port_(port), text_(text), result_(result) {}

  // Reads and writes one register; false when the port refused the read.
  bool Capture(uint32_t node, atd::FabricReg r, uint32_t instance, uint32_t* value = nullptr) {
    uint32_t v = 0;
    if (!port_.readRegister(port_.context, node, r.function, r.offset, instance, &v)) return false;
    Write(node, r, instance, v);
    if (value != nullptr) *value = v;
    return true;
  }

  // The registers of one block as a CCM or as a coherent slave. A block
  // none of whose registers reads non-zero is left out (a profile reads a
  // register it does not hold as zero), so the blocks that are no memory
  // channel do not appear as channels.
  bool CaptureBlock(uint32_t node, uint32_t instance, bool ccm) {
    struct Read {
      atd::FabricReg reg;
      uint32_t value;
    } reads[kMaxBlockRegisters];
    unsigned n = 0;
    bool any = false;
    auto read = [&](atd::FabricReg r) {
      uint32_t v = 0;
      if (!port_.readRegister(port_.context, node, r.function, r.offset, instance, &v))
        return false;
      reads[n++] = {r, v};
      any = any || v != 0;
      return true;
    };
    for (const reg::ListedRegister& l : reg::kSingleRegisters) {
      const bool listed =
          l.scope == RegisterScope::SlaveAndCcm || (l.scope == RegisterScope::Slave && !ccm);
      if (listed && !read(l.reg)) return false;
    }
    for (unsigned m = 0; m < (ccm ? reg::kMapCount : reg::kSlaveMapCount); ++m)
      if (!read(reg::DramBaseReg(m)) || !read(reg::DramLimitReg(m))) return false;
    for (unsigned i = 0; any && i < n; ++i) Write(node, reads[i].reg, instance, reads[i].value);
    return true;
  }

 private:
  static constexpr unsigned kMaxBlockRegisters = 48;

  void Write(uint32_t node, atd::FabricReg r, uint32_t instance, uint32_t v) {
    char line[160];
    if (instance == atd::kBroadcastInstance)
      diag::Format(line, sizeof line,
                   "{\"node\": %u, \"function\": %u, \"offset\": \"0x%03X\", \"instance\": "
                   "\"broadcast\", \"value\": \"0x%08X\"}",
                   node, r.function, r.offset, v);
    else
      diag::Format(line, sizeof line,
                   "{\"node\": %u, \"function\": %u, \"offset\": \"0x%03X\", \"instance\": %u, "
                   "\"value\": \"0x%08X\"}",
                   node, r.function, r.offset, instance, v);
    text_.Raw(result_.registers == 0 ? "\n    " : ",\n    ");
    text_.Raw(line);
    ++result_.registers;
  }

  const FabricPort& port_;
  ProfileText& text_;
  CaptureResult& result_;
};

// Each member that the identification holds: a text, or a 32-bit number
// written as hex text.
void WriteIdentification(ProfileText& t, const Identification& id) {
  const struct {
    const char* key;
    const char* text;
    bool isNumber;
    uint32_t number;
  } members[] = {
      {"tool", id.tool, false, 0},
      {"version", id.version, false, 0},
      {"source", id.source, false, 0},
      {"time", id.time, false, 0},
      {"hostName", id.hostName, false, 0},
      {"capturedFrom", id.capturedFrom, false, 0},
      {"cpuidSignature", nullptr, id.hasCpuidSignature, id.cpuidSignature},
      {"firmwareVendor", id.firmwareVendor, false, 0},
      {"firmwareRevision", nullptr, id.hasFirmwareRevision, id.firmwareRevision},
      {"note", id.note, false, 0},
  };
  t.Raw("  \"captured\": {");
  bool first = true;
  for (const auto& m : members) {
    if (m.text == nullptr && !m.isNumber) continue;
    t.Raw(first ? "\n    \"" : ",\n    \"");
    first = false;
    t.Raw(m.key);
    t.Raw("\": ");
    if (m.isNumber) {
      char hex[16];
      diag::Format(hex, sizeof hex, "\"0x%08X\"", m.number);
      t.Raw(hex);
    } else {
      t.String(m.text);
    }
  }
  t.Raw("\n  }");
}

void WriteTables(ProfileText& t, const Tables& tables) {
  if (tables.channelConfig != nullptr) {
    t.Raw(",\n  \"channelConfig\": {\"raw\": ");
    t.HexBytes(reinterpret_cast<const uint8_t*>(tables.channelConfig), sizeof(ChannelConfigTable),
               false);
    t.Raw("}");
  }
  if (tables.processors != nullptr && tables.processorCount != 0) {
    t.Raw(",\n  \"processors\": [");
    for (uint64_t i = 0; i < tables.processorCount; ++i) {
      const ProcessorListEntry& p = tables.processors[i];
      char number[48];
      diag::Format(number, sizeof number, "{\"number\": %llu, \"info\": ",
                   static_cast<unsigned long long>(p.processorNumber));
      t.Raw(i == 0 ? "\n    " : ",\n    ");
      t.Raw(number);
      t.HexBytes(p.info, sizeof p.info, true);
      t.Raw("}");
    }
    t.Raw("\n  ]");
  }
}

}  // namespace

FabricPort EcamFabricPort() {
  return {nullptr, EcamReadConfig, EcamReadRegister};
}

void IdentifyFirmware(const EFI_SYSTEM_TABLE* systemTable, char* vendor, size_t size,
                      Identification* id) {
  id->hasCpuidSignature = true;
  id->cpuidSignature = hw::Cpuid(1).eax;
  if (systemTable == nullptr) return;
  id->hasFirmwareRevision = true;
  id->firmwareRevision = systemTable->FirmwareRevision;
  const CHAR16* wide = systemTable->FirmwareVendor;
  if (wide == nullptr || size == 0) return;
  size_t n = 0;
  for (; n + 1 < size && wide[n] != 0; ++n)
    vendor[n] = wide[n] >= 0x20 && wide[n] < 0x7F ? static_cast<char>(wide[n]) : '?';
  vendor[n] = '\0';
  id->firmwareVendor = vendor;
}

bool TablesFromTopology(EFI_BOOT_SERVICES* bootServices, Tables* tables) {
  void* found = nullptr;
  if (bootServices == nullptr ||
      bootServices->LocateProtocol(uefi::GuidArg(gPlatformTopologyProtocolGuid), nullptr, &found) !=
          EFI_SUCCESS ||
      found == nullptr)
    return false;
  const auto* topology = static_cast<const PlatformTopologyProtocol*>(found);
  tables->channelConfig = static_cast<const ChannelConfigTable*>(topology->channelConfigTable);
  tables->processors = topology->processors;
  tables->processorCount = topology->processors != nullptr ? topology->processorCount : 0;
  return true;
}

CaptureResult CaptureProfile(const FabricPort& port, const Identification& id, const Tables& tables,
                             TextSink sink) {
  CaptureResult result;
  bool present[kMaxNodes] = {};
  for (uint32_t node = 0; node < kMaxNodes; ++node) {
    uint32_t vendor = 0;
    if (!port.readConfig(port.context, atd::fabricNodeDevice(node), reg::kWindowFunction, 0,
                         &vendor)) {
      result.status = CaptureStatus::ReadFailed;
      return result;
    }
    if (node == 0) result.vendorId = vendor;
    present[node] = (vendor & 0xFFFF) == reg::kNodeVendorId;
    if (present[node]) ++result.nodes;
  }
  if (!present[0]) {
    result.status = CaptureStatus::NoFabric;
    return result;
  }

  ProfileText text(sink);
  text.Raw("{\n");
  WriteIdentification(text, id);
  text.Raw(",\n  \"fabric\": [");
  RegisterWriter regs(port, text, result);
  bool ok = true;
  // The fabric-wide registers, through node 0 by broadcast.
  uint32_t count = 0;
  for (const reg::ListedRegister& l : reg::kSingleRegisters) {
    if (l.scope != RegisterScope::FabricWide) continue;
    const bool isCount = l.reg.function == reg::BlockInstanceCount::kReg.function &&
                         l.reg.offset == reg::BlockInstanceCount::kReg.offset;
    ok = ok && regs.Capture(0, l.reg, atd::kBroadcastInstance, isCount ? &count : nullptr);
  }
  // The block list: a block whose information reads 0 does not exist; the
  // first of type 0 is the CCM, which holds the DRAM maps checkDramHit reads.
  bool named[256] = {};
  uint32_t ccm = atd::kBroadcastInstance;
  const uint32_t blocks = reg::BlockInstanceCount::Count::Get(count);
  for (uint32_t k = 0; ok && k < blocks; ++k) {
    uint32_t info = 0;
    ok = regs.Capture(0, reg::BlockInstanceInfo::kReg, k, &info);
    named[k] = info != 0;
    if (named[k]) ++result.blocks;
    if (named[k] && reg::BlockInstanceInfo::InstanceType::Get(info) == 0 &&
        ccm == atd::kBroadcastInstance)
      ccm = k;
  }
  // The CCM's maps (by broadcast when there is none, as the translations
  // then read them), then every other block as a coherent slave of every
  // node.
  ok = ok && regs.CaptureBlock(0, ccm, true);
  for (uint32_t node = 0; ok && node < kMaxNodes; ++node) {
    for (uint32_t k = 0; ok && present[node] && k < blocks; ++k)
      if (named[k] && !(node == 0 && k == ccm)) ok = regs.CaptureBlock(node, k, false);
  }
  if (!ok) {
    result.status = CaptureStatus::ReadFailed;
    return result;
  }
  text.Raw("\n  ]");
  WriteTables(text, tables);
  text.Raw("\n}\n");
  if (!text.Ok()) result.status = CaptureStatus::WriteFailed;
  return result;
}

}  // namespace capture
