// The "processors" and "acpi" profile sections: what they put on the
// platform, what they refuse, and that a dump loads back to the same state.
#include "sim/acpi/acpi_tables.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_double.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using sim::profile::Json;

TEST(ErrorsProfile, ProcessorsSetBanksAndTheList) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({ "processors": [
      { "number": 2, "info": [1, 2, 3, 4, "0x05"], "banks": [ { "msr1": "0x8000000000000001" }, {} ] },
      { "number": 0, "info": "aa bb cc dd ee", "bankCount": 7 } ] })"),
                     p);
  ASSERT_GE(p.cpus.size(), 3u);
  EXPECT_EQ(p.cpus[2].msrs[0x179], 2u);
  EXPECT_EQ(p.cpus[2].msrs[0xC0002001], 0x8000000000000001ULL);
  EXPECT_EQ(p.cpus[0].msrs[0x179], 7u);
  const auto& list = sim::mca::Processors(p).entries;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].processorNumber, 2u);
  EXPECT_EQ(list[0].info[4], 5);
  EXPECT_EQ(list[1].processorNumber, 0u);
  EXPECT_EQ(list[1].info[0], 0xAA);
}

TEST(ErrorsProfile, ProcessorListReachesAnInstalledTopologyProtocol) {
  sim::Platform p;
  sim::TopologyDouble topo;
  topo.Install(p, nullptr);
  sim::profile::Load(Json::parse(R"({ "processors": [ { "number": 0 }, { "number": 1 } ] })"), p);
  EXPECT_EQ(topo.iface.processorCount, 2u);
  EXPECT_EQ(topo.iface.processors, sim::mca::Processors(p).entries.data());
}

TEST(ErrorsProfile, AcpiStructuredRegionAndHest) {
  sim::Platform p;
  sim::profile::Load(Json::parse(R"({ "acpi": {
      "bert": { "region": { "blockStatus": "0x11", "entries": "01 02 03 04", "rawData": "aa bb",
                            "errorSeverity": 1, "length": 32 } },
      "hest": { "errorSourceCount": 1, "sources": "0000 0000 0000 0001" } } })"),
                     p);
  const auto region = sim::acpi::BootErrorRegion(p);
  GenericErrorStatusBlock b;
  ASSERT_EQ(region.size(), 32u);
  std::memcpy(&b, region.data(), sizeof b);
  EXPECT_EQ(b.BlockStatus, 0x11u);
  EXPECT_EQ(b.RawDataOffset, 24u);
  EXPECT_EQ(b.RawDataLength, 2u);
  EXPECT_EQ(b.DataLength, 4u);
  EXPECT_EQ(b.ErrorSeverity, 1u);
  EXPECT_EQ(region[24], 0xAA);
  EXPECT_EQ(region[31], 0);
  const auto bert = sim::acpi::TableBytes(p, kBertSignature);
  uint64_t addr;
  std::memcpy(&addr, bert.data() + 40, 8);
  auto block = p.BlockOf(reinterpret_cast<void*>(addr));  // pool memory the driver may free
  ASSERT_TRUE(block);
  EXPECT_EQ(block->type, EfiACPIMemoryNVS);
  const auto hest = sim::acpi::TableBytes(p, kHestSignature);
  ASSERT_EQ(hest.size(), 48u);
  EXPECT_EQ(sim::acpi::ByteSum(hest.data(), hest.size()), 0);
  EXPECT_EQ(sim::acpi::ByteSum(bert.data(), bert.size()), 0);
  EXPECT_TRUE(p.Find(kAcpiTableProtocolGuid));
  EXPECT_TRUE(p.Find(kAcpiSdtProtocolGuid));
}

TEST(ErrorsProfile, DumpLoadsBackToTheSameTablesAndBanks) {
  sim::Platform a;
  sim::profile::Load(sim::profile::Default(), a);
  const Json dumped = sim::profile::Dump(a);
  sim::Platform b;
  sim::profile::Load(dumped, b);
  EXPECT_EQ(sim::profile::Dump(b), dumped);
  EXPECT_EQ(sim::acpi::BootErrorRegion(b), sim::acpi::BootErrorRegion(a));
  EXPECT_EQ(sim::acpi::TableBytes(b, kHestSignature), sim::acpi::TableBytes(a, kHestSignature));
  for (unsigned cpu = 0; cpu < 2; ++cpu) {
    ASSERT_EQ(sim::mca::BankCount(b, cpu), sim::mca::BankCount(a, cpu));
    for (unsigned bank = 0; bank < sim::mca::BankCount(a, cpu); ++bank)
      for (unsigned n = 0; n < sim::mca::kBankRegisters; ++n)
        EXPECT_EQ(sim::mca::BankRegister(b, cpu, bank, n), sim::mca::BankRegister(a, cpu, bank, n));
  }
}

TEST(ErrorsProfile, MistakesNameTheirPath) {
  const struct {
    const char* profile;
    const char* path;
  } cases[] = {
      {R"({"processors": {}})", "$.processors"},
      {R"({"processors": [{"info": "00 00 00 00 00"}]})", "$.processors[0].number"},
      {R"({"processors": [{"number": 0, "info": "00 00"}]})", "$.processors[0].info"},
      {R"({"processors": [{"number": 0, "banks": [{"msr7x": 1}]}]})",
       "$.processors[0].banks[0].msr7x"},
      {R"({"processors": [{"number": 0, "bankCount": 256}]})", "$.processors[0].bankCount"},
      {R"({"acpi": {"bert": {"region": "0g"}}})", "$.acpi.bert.region"},
      {R"({"acpi": {"bert": {"region": {"length": 4}}}})", "$.acpi.bert.region.length"},
      {R"({"acpi": {"hest": {"table": "00", "sources": ""}}})", "$.acpi.hest"},
      {R"({"acpi": {"protocols": ["smm"]}})", "$.acpi.protocols[0]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile);
    sim::Platform p;
    try {
      sim::profile::Load(Json::parse(c.profile), p);
      ADD_FAILURE() << "accepted";
    } catch (const sim::profile::ProfileError& e) {
      EXPECT_EQ(e.path, c.path) << e.what();
    }
  }
}

}  // namespace
