// The SMM profile sections: the defaults describe a served platform, dumps
// load back to the same platform, and mistakes name their JSON path.
#include "tests/mem_tune/fixture.h"
#include "sim/smm/profile_smm.h"

namespace mttest {
namespace {

using sim::profile::Json;
using sim::profile::ProfileError;

Json SmmDefaults() {
  using namespace sim::profile;
  return {{"smm", DefaultSmm()},
          {"memTuneProvider", DefaultMemTuneProvider()},
          {"variables", DefaultVariables()},
          {"memoryController", DefaultMemoryController()}};
}

void LoadSmmSections(const Json& j, sim::Platform& p) {
  using namespace sim::profile;
  if (j.contains("smm")) LoadSmm(j["smm"], "$.smm", p);
  if (j.contains("memTuneProvider"))
    LoadMemTuneProvider(j["memTuneProvider"], "$.memTuneProvider", p);
  if (j.contains("variables")) LoadVariables(j["variables"], "$.variables", p);
  if (j.contains("memoryController"))
    LoadMemoryController(j["memoryController"], "$.memoryController", p);
}

Json DumpSmmSections(sim::Platform& p) {
  using namespace sim::profile;
  return {{"smm", DumpSmm(p)},
          {"memTuneProvider", DumpMemTuneProvider(p)},
          {"variables", DumpVariables(p)},
          {"memoryController", DumpMemoryController(p)}};
}

TEST(SmmProfile, DumpLoadsBackToTheSamePlatform) {
  Json first;
  {
    sim::Platform p;
    LoadSmmSections(SmmDefaults(), p);
    sim::smm::SetNode(p, 0x19, 0x1022, 0x20);
    sim::smm::MemoryController(p, 0x20).SetIndirect(0x12345, 0x77);
    first = DumpSmmSections(p);
  }
  sim::Platform q;
  LoadSmmSections(first, q);
  EXPECT_EQ(DumpSmmSections(q), first);
  EXPECT_EQ(first["memoryController"]["nodes"][0]["bus"], "0x20");
  EXPECT_EQ(first["memoryController"]["buses"][1]["registers"]["0x12345"], "0x77");
  auto* v = sim::smm::FindVariable(q, kSetupName, mts::kTivSetupGuid);
  ASSERT_NE(v, nullptr);
  EXPECT_GE(v->data.size(), 0x1BAu);  // every option of the setup table fits
  EXPECT_EQ(v->attributes, 7u);
}

TEST(SmmProfile, DefaultPlatformIsServedAndReadsOneChannel) {
  sim::Platform p;
  LoadSmmSections(SmmDefaults(), p);
  ASSERT_EQ(mts::ImageEntry(p.ImageHandle(), p.SystemTable()), EFI_SUCCESS);
  ASSERT_EQ(sim::smm::Smm(p).registrations.size(), 1u);
  auto* box = sim::smm::Mailbox(p);
  box->Command = 0x80000000;
  box->Request = 4;
  sim::smm::RaiseSwSmi(p, 0x9D);
  EXPECT_EQ(uint32_t{box->Status}, 0u);
  EXPECT_EQ(box->MemClock, 1600);
  EXPECT_EQ(box->EchoC8, 0x5A);
}

TEST(SmmProfile, MistakesNameTheirPath) {
  struct Case {
    Json profile;
    std::string path;
  };
  const Case cases[] = {
      {{{"smm", {{"smarm", Json::array()}}}}, "$.smm.smarm"},
      {{{"smm", {{"smram", Json::array({{{"size", "0x10"}}})}}}}, "$.smm.smram[0].size"},
      {{{"smm", {{"swSmiDispatch", "yes"}}}}, "$.smm.swSmiDispatch"},
      {{{"memTuneProvider", {{"settings", {{"0x100", "0x1"}}}}}},
       "$.memTuneProvider.settings.0x100"},
      {{{"memTuneProvider", {{"settings", {{"0x10", "0x100"}}}}}},
       "$.memTuneProvider.settings.0x10"},
      {{{"variables",
         Json::array({{{"name", "A"}, {"guid", "nope"}, {"attributes", 7}, {"size", 1}}})}},
       "$.variables[0].guid"},
      {{{"variables", Json::array({{{"name", "A"}, {"attributes", 7}, {"size", 1}}})}},
       "$.variables[0].guid"},
      {{{"variables", Json::array({{{"name", "A"},
                                    {"guid", "3A997502-647A-4C82-998E-52EF9486A247"},
                                    {"attributes", 7},
                                    {"size", 4},
                                    {"bytes", {{"0x4", 1}}}}})}},
       "$.variables[0].bytes.0x4"},
      {{{"memoryController",
         {{"nodes", Json::array({{{"device", "0x10"}, {"vendorId", 1}, {"bus", 1}}})}}}},
       "$.memoryController.nodes[0].device"},
      {{{"memoryController",
         {{"buses",
           Json::array({{{"bus", 0},
                         {"channels",
                          Json::array({{{"channel", 0}, {"registers", {{"0x200", "x"}}}}})}}})}}}},
       "$.memoryController.buses[0].channels[0].registers.0x200"},
  };
  for (const auto& c : cases) {
    sim::Platform p;
    try {
      LoadSmmSections(c.profile, p);
      ADD_FAILURE() << "accepted: " << c.profile.dump();
    } catch (const ProfileError& e) {
      EXPECT_EQ(e.path, c.path) << e.what();
    }
  }
}

TEST(SmmProfile, GuidTextRoundTrips) {
  const std::string text = "3A997502-647A-4C82-998E-52EF9486A247";
  const EFI_GUID g = sim::profile::ParseGuid(Json(text), "$");
  EXPECT_TRUE(uefi::SameGuid(g, mts::kTivSetupGuid));
  EXPECT_EQ(sim::profile::GuidText(g), text);
}

}  // namespace
}  // namespace mttest
