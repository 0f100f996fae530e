// The BERT and HEST appends (slots 3, 4 and 6) on random existing tables and
// boot error regions: a BERT whose region has random status-block fields
// (entry count, raw data offset and length, data length, severity), a HEST
// of random length and count, unrelated tables in front of them, and a run
// of random appends. Each result is checked against a model of the append:
// a refused append changes no table, no region and no pool block; an
// accepted one yields exactly the modelled region or table, a valid
// checksum, and gives back every block but the new region.
#include "addr_translate/errors/error_slots.h"
#include "diag/boot_services_table.h"
#include "pi/acpi_tables.h"
#include "sim/acpi/acpi_tables.h"
#include "sim/platform/platform.h"
#include "sim/platform/pool_accounting.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uint32_t U32(const Bytes& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
void PutU32(Bytes& b, size_t off, uint32_t v) {
  std::memcpy(b.data() + off, &v, 4);
}

bool SumsToZero(const Bytes& t) {
  return sim::acpi::ByteSum(t.data(), t.size()) == 0;
}

Bytes RegionOf(sim::Platform& p) {
  return sim::acpi::BootErrorRegion(p);
}

// The BERT append as the model: the new region, or empty when refused.
Bytes ModelBert(const Bytes& old, const Bytes& data, uint8_t kind, uint8_t severity) {
  if (old.size() < sizeof(GenericErrorStatusBlock)) return {};
  GenericErrorStatusBlock b;
  std::memcpy(&b, old.data(), sizeof b);
  if ((b.BlockStatus & kBlockEntryCountMask) == kBlockEntryCountMask) return {};
  if (kind != 1 && kind != 2) return {};
  const uint64_t L = old.size();
  // Where the operating system finds the entries and the raw data: both must
  // stay where it looks after the append.
  const uint64_t entriesEnd = sizeof b + uint64_t{b.DataLength};
  const uint64_t rawEnd = uint64_t{b.RawDataOffset} + b.RawDataLength;
  Bytes out;
  if (kind == 1) {
    if (b.RawDataOffset < entriesEnd || rawEnd != L) return {};
    out = old;
    out.insert(out.end(), data.begin(), data.end());
    b.RawDataLength += static_cast<uint32_t>(data.size());
  } else {
    if (entriesEnd > L) return {};
    const bool rawAfterEntries = b.RawDataOffset == entriesEnd && rawEnd <= L;
    const bool noRawAnywhere =
        b.RawDataLength == 0 &&
        (b.RawDataOffset == 0 || (b.RawDataOffset >= entriesEnd && b.RawDataOffset <= L));
    if (!rawAfterEntries && !noRawAnywhere) return {};
    out.assign(old.begin(), old.begin() + entriesEnd);
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), old.begin() + entriesEnd, old.begin() + entriesEnd + b.RawDataLength);
    out.resize(L + data.size(), 0);
    b.RawDataOffset = static_cast<uint32_t>(entriesEnd + data.size());
    b.DataLength += static_cast<uint32_t>(data.size());
  }
  auto mark = [&](uint32_t valid, uint32_t multiple) {
    if (b.BlockStatus & multiple) return;
    b.BlockStatus |= (b.BlockStatus & valid) ? multiple : valid;
  };
  if (severity == 0) {
    mark(kBlockCorrectableValid, kBlockMultipleCorrectable);
    if (b.ErrorSeverity != 1) b.ErrorSeverity = 0;
  } else if (severity == 1) {
    mark(kBlockUncorrectableValid, kBlockMultipleUncorrectable);
    b.ErrorSeverity = 1;
  } else if (severity == 2) {
    mark(kBlockCorrectableValid, kBlockMultipleCorrectable);
    if (b.ErrorSeverity > 2) b.ErrorSeverity = 2;
  }
  const uint32_t count = ((b.BlockStatus & kBlockEntryCountMask) >> kBlockEntryCountShift) + 1;
  b.BlockStatus = (b.BlockStatus & ~kBlockEntryCountMask) | (count << kBlockEntryCountShift);
  std::memcpy(out.data(), &b, sizeof b);
  return out;
}

// Whether the HEST append takes `count` sources of `data` on a table counting
// `oldCount`: the count must not wrap, and must be the number of structures
// the bytes hold as far as their types give their lengths.
bool HestTakes(uint32_t oldCount, const Bytes& data, uint32_t count) {
  if (uint64_t{oldCount} + count > 0xFFFFFFFFull) return false;
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (data.size() - at < 2) return false;
    uint32_t banksAt = 0;
    uint64_t length =
        AcpiHestSourceFixedBytes(static_cast<uint16_t>(data[at] | data[at + 1] << 8), &banksAt);
    if (length == 0) return true;
    if (banksAt != 0 && data.size() - at <= banksAt) return false;
    if (banksAt != 0) length += 28u * data[at + banksAt];
    if (length > data.size() - at) return false;
    at += length;
  }
  return at == data.size();
}

Bytes RandomRegion(FuzzedDataProvider& in) {
  const size_t length = in.ConsumeIntegralInRange<size_t>(0, 160);
  Bytes region = in.ConsumeBytes<uint8_t>(length);
  region.resize(length, 0);
  if (length >= sizeof(GenericErrorStatusBlock) && in.ConsumeBool()) {
    // Plausible fields more often than not.
    GenericErrorStatusBlock b{};
    b.DataLength = in.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(length));
    b.RawDataOffset = in.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(length) + 4);
    b.RawDataLength = in.ConsumeIntegralInRange<uint32_t>(0, static_cast<uint32_t>(length));
    b.ErrorSeverity = in.ConsumeIntegralInRange<uint32_t>(0, 4);
    b.BlockStatus = in.ConsumeBool() ? (0x3FEu << kBlockEntryCountShift) |
                                           in.ConsumeIntegralInRange<uint32_t>(0, 15)
                                     : in.ConsumeIntegral<uint32_t>();
    std::memcpy(region.data(), &b, sizeof b);
  }
  return region;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  FuzzedDataProvider in(input, inputSize);
  sim::Platform p;
  p.stopRequestAnswer = 1;
  diag::gST = p.SystemTable();
  diag::gBS = p.BootServices();
  sim::acpi::InstallProtocols(p);
  auto& store = sim::acpi::Store(p);

  // Unrelated tables in front, then the two (either may be missing).
  const unsigned others = in.ConsumeIntegralInRange<unsigned>(0, 3);
  for (unsigned i = 0; i < others; ++i) {
    Bytes t = sim::acpi::Header(0x50434146 + i, 36 + i, 1);  // "FACP"-like
    t.resize(36 + i, 0);
    store.Add(t);
  }
  const bool withBert = in.ConsumeIntegralInRange<int>(0, 7) != 0;
  const bool withHest = in.ConsumeIntegralInRange<int>(0, 7) != 0;
  if (withBert) sim::acpi::InstallBert(p, RandomRegion(in));
  if (withHest) {
    const uint32_t count = in.ConsumeIntegral<uint32_t>();
    Bytes sources = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 120));
    sim::acpi::InstallHest(p, count, sources);
  }

  const unsigned ops = in.ConsumeIntegralInRange<unsigned>(1, 6);
  uint32_t allocations = 0;  // AllocatePool calls so far (failure rules count them all)
  bool failPending = false;
  for (unsigned op = 0; op < ops && in.remaining_bytes() > 0; ++op) {
    const unsigned which = in.ConsumeIntegralInRange<unsigned>(0, 2);
    Bytes data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 100));
    const void* ptr = data.empty() && in.ConsumeBool() ? nullptr : data.data();
    // Now and then the next allocation fails.
    if (!failPending && in.ConsumeIntegralInRange<int>(0, 9) == 0) {
      p.Fail("AllocatePool", EFI_OUT_OF_RESOURCES, allocations, 1);
      failPending = true;
    }
    p.calls.clear();
    // Whether this operation met the failing allocation (known once it ran).
    bool failAlloc = false;
    auto settle = [&] {
      for (const auto& c : p.calls) {
        if (c != "AllocatePool") continue;
        ++allocations;
        if (failPending) failAlloc = true;
        failPending = false;
      }
    };

    const Bytes bertBefore = sim::acpi::TableBytes(p, kBertSignature);
    const Bytes regionBefore = RegionOf(p);
    const Bytes hestBefore = sim::acpi::TableBytes(p, kHestSignature);
    const sim::PoolCheckpoint pools(p);

    if (which == 0) {
      const uint8_t kind = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(1, 2)
                                            : in.ConsumeIntegral<uint8_t>();
      const uint8_t severity = in.ConsumeIntegralInRange<uint8_t>(0, 5);
      const EFI_STATUS s =
          atd::AppendBertRecord(ptr, static_cast<UINT32>(data.size()), kind, severity);
      settle();
      const Bytes model = withBert ? ModelBert(regionBefore, data, kind, severity) : Bytes{};
      Check(sim::acpi::TableBytes(p, kHestSignature) == hestBefore);
      if (s != EFI_SUCCESS) {
        Check(model.empty() || failAlloc);
        Check(sim::acpi::TableBytes(p, kBertSignature) == bertBefore);
        Check(RegionOf(p) == regionBefore);
        Check(pools.Obtained().empty() && pools.Released().empty());
        if (withBert && regionBefore.size() >= sizeof(GenericErrorStatusBlock)) {
          const uint32_t status = U32(regionBefore, 0);
          if ((status & kBlockEntryCountMask) == kBlockEntryCountMask)
            Check(s == EFI_VOLUME_FULL);
          else if (kind != 1 && kind != 2)
            Check(s == EFI_UNSUPPORTED);
        }
      } else {
        Check(!model.empty());
        const Bytes bert = sim::acpi::TableBytes(p, kBertSignature);
        Check(SumsToZero(bert));
        Check(U32(bert, 36) == regionBefore.size() + data.size());
        Check(RegionOf(p) == model);
        // The old region is given back; the new one is ACPI NVS pool.
        const auto obtained = pools.Obtained();
        const auto released = pools.Released();
        Check(obtained.size() == 1 && released.size() == 1);
        Check(obtained[0].type == EfiACPIMemoryNVS && obtained[0].size == model.size());
        Check(released[0].size == regionBefore.size());
        // Nothing of the BERT but its region fields and checksum changes.
        for (size_t i = 0; i < 36; ++i)
          if (i != 9) Check(bert[i] == bertBefore[i]);
      }
    } else {
      const uint32_t count = which == 2 ? in.ConsumeIntegral<uint32_t>() : 1;
      const EFI_STATUS s = which == 2
                               ? atd::AddHestErrorSources(ptr, static_cast<UINT32>(data.size()),
                                                          count, in.ConsumeIntegral<uint64_t>())
                               : atd::AddHestErrorSource(ptr, static_cast<UINT32>(data.size()),
                                                         in.ConsumeIntegral<uint32_t>(),
                                                         in.ConsumeIntegral<uint64_t>());
      settle();
      Check(sim::acpi::TableBytes(p, kBertSignature) == bertBefore);
      Check(RegionOf(p) == regionBefore);
      // Per-call copies are all given back.
      Check(pools.Obtained().empty() && pools.Released().empty());
      size_t hests = 0;
      for (const auto& t : store.tables) hests += U32(t->bytes, 0) == kHestSignature;
      Check(hests == (withHest ? 1u : 0u));
      if (count == 0) Check(s == EFI_UNSUPPORTED && p.calls.empty());
      const bool modelTakes = withHest && count != 0 && HestTakes(U32(hestBefore, 36), data, count);
      if (s != EFI_SUCCESS) {
        Check(!modelTakes || failAlloc);
        Check(sim::acpi::TableBytes(p, kHestSignature) == hestBefore);
      } else {
        Check(modelTakes);
        Bytes want = hestBefore;
        want.insert(want.end(), data.begin(), data.end());
        PutU32(want, 4, static_cast<uint32_t>(want.size()));
        PutU32(want, 36, U32(hestBefore, 36) + count);
        const Bytes hest = sim::acpi::TableBytes(p, kHestSignature);
        Check(SumsToZero(hest));
        want[9] = hest[9];
        Check(hest == want);
      }
    }
  }
  diag::gST = nullptr;
  diag::gBS = nullptr;
  return 0;
}
