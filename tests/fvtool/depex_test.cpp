// Dependency expressions compiled to the dispatchers' opcodes, the module
// descriptions in integration/, and the --add items that use them.
#include "diag/heap_records.h"
#include "mem_tune/config_token.h"
#include "mem_tune_provider.h"
#include "mem_tune/setup_variable.h"
#include "pi/acpi_sdt_protocol.h"
#include "pi/acpi_table_protocol.h"
#include "pi/hob.h"
#include "pi/mp_services.h"
#include "pi/smm_access2.h"
#include "pi/smm_base2.h"
#include "pi/smm_sw_dispatch.h"
#include "pi/smm_variable.h"
#include "platform_topology_protocol.h"
#include "tools/fvtool/insertion_request.h"
#include "tools/fvtool/depex.h"
#include "tools/fvtool/edk2_files.h"
#include "tools/fvtool/errors.h"
#include "translation_protocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Registry-format GUIDs and their stored bytes, written out by hand.
const Bytes kA = {
    0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
    0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};  // 00112233-4455-6677-8899-AABBCCDDEEFF
const Bytes kB = {
    0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07,
    0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};  // 01020304-0506-0708-090A-0B0C0D0E0F10
const Bytes kC = {
    0xCC, 0xDD, 0xEE, 0xFF, 0xAA, 0xBB, 0x88, 0x99,
    0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00};  // FFEEDDCC-BBAA-9988-7766-554433221100

fvtool::GuidNames TestNames() {
  fvtool::GuidNames n;
  n["gA"] = *fvtool::ParseRegistryGuid("00112233-4455-6677-8899-AABBCCDDEEFF");
  n["gB"] = *fvtool::ParseRegistryGuid("01020304-0506-0708-090A-0B0C0D0E0F10");
  n["gC"] = *fvtool::ParseRegistryGuid("FFEEDDCC-BBAA-9988-7766-554433221100");
  return n;
}

TEST(FvtoolDepex, CompilesToPostfixOpcodes) {
  // PUSH 02, AND 03, OR 04, NOT 05, TRUE 06, FALSE 07, END 08, BEFORE 00,
  // AFTER 01, SOR 09.
  const Bytes P = {0x02};
  struct Case {
    const char* text;
    fvtool::DepexKind kind;
    Bytes bytes;
  };
  const auto dxe = fvtool::DepexKind::kDxe, smm = fvtool::DepexKind::kSmm;
  const Case cases[] = {
      {"TRUE", smm, {0x06, 0x08}},
      {"FALSE", dxe, {0x07, 0x08}},
      {"gA", dxe, Cat({P, kA, {0x08}})},
      {"gA AND gB", smm, Cat({P, kA, P, kB, {0x03, 0x08}})},
      {"gA OR gB OR gC", dxe, Cat({P, kA, P, kB, {0x04}, P, kC, {0x04, 0x08}})},
      {"NOT gA", dxe, Cat({P, kA, {0x05, 0x08}})},
      {"gA AND (gB OR NOT gC)", dxe, Cat({P, kA, P, kB, P, kC, {0x05, 0x04, 0x03, 0x08}})},
      {"NOT (gA AND gB)", smm, Cat({P, kA, P, kB, {0x03, 0x05, 0x08}})},
      {"(gA OR gB) AND gC", dxe, Cat({P, kA, P, kB, {0x04}, P, kC, {0x03, 0x08}})},
      {"BEFORE gA", dxe, Cat({{0x00}, kA, {0x08}})},
      {"AFTER gB", smm, Cat({{0x01}, kB, {0x08}})},
      {"SOR gA AND gB", dxe, Cat({{0x09}, P, kA, P, kB, {0x03, 0x08}})},
      {"01020304-0506-0708-090a-0b0c0d0e0f10\n  AND\tgC", dxe, Cat({P, kB, P, kC, {0x03, 0x08}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(fvtool::CompileDepex(c.text, TestNames(), c.kind), c.bytes);
  }
}

TEST(FvtoolDepex, RefusesWhatItCannotCompile) {
  struct Case {
    const char* text;
    fvtool::DepexKind kind;
    bool unknownName;  // Refusal; otherwise InputError
    const char* message;
  };
  const auto dxe = fvtool::DepexKind::kDxe, smm = fvtool::DepexKind::kSmm;
  const Case cases[] = {
      {"", dxe, false, "empty"},
      {"gA AND", dxe, false, "expected a GUID"},
      {"gA AND gB OR gC", dxe, false, "AND and OR mixed"},
      {"(gA AND gB", dxe, false, "expected ')'"},
      {"gA)", dxe, false, "unexpected ')'"},
      {"BEFORE gA AND gB", dxe, false, "stands alone"},
      {"gA AND BEFORE gB", dxe, false, "may only start"},
      {"SOR gA", smm, false, "SOR has no meaning"},
      {"gA END", dxe, false, "unexpected 'END'"},
      {"gA AND END", dxe, false, "END is added by fvtool"},
      {"gA ; gB", dxe, false, "unexpected character"},
      {"1gA", dxe, false, "neither a GUID name"},
      {"gA AND gMissing", smm, true, "unknown GUID name gMissing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      fvtool::CompileDepex(c.text, TestNames(), c.kind);
      ADD_FAILURE() << "compiled";
    } catch (const fvtool::Refusal& e) {
      EXPECT_TRUE(c.unknownName) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    } catch (const fvtool::InputError& e) {
      EXPECT_FALSE(c.unknownName) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

std::string Integration(const char* file) {
  return std::string(TIV_SOURCE_DIR) + "/integration/" + file;
}

fvtool::Guid FromEfi(const EFI_GUID& g) {
  fvtool::Guid out;
  std::memcpy(out.bytes.data(), &g, 16);
  return out;
}

// The DEC and the built-in standard names must give the values the code uses.
TEST(FvtoolIntegration, DeclaredGuidsEqualTheCodesConstants) {
  const std::map<std::string, EFI_GUID> declared = {
      {"gTranslationProtocolGuid", gTranslationProtocolGuid},
      {"gPlatformTopologyProtocolGuid", gPlatformTopologyProtocolGuid},
      {"gHeapListProtocolGuid", diag::gHeapListProtocolGuid},
      {"gHeapHobGuid", diag::gHeapHobGuid},
      {"gSwSmiDispatchProtocolGuid", kSwSmiDispatchProtocolGuid},
      {"gMemTuneProviderGuid", mts::kMemTuneProviderGuid},
      {"gConfigTokenServiceGuid", mts::kConfigTokenServiceGuid},
      {"gTivSetupVariableGuid", mts::kTivSetupGuid},
  };
  const fvtool::GuidNames dec = fvtool::ReadDec(Integration("TivFirmware.dec"));
  EXPECT_EQ(dec.size(), declared.size());
  for (const auto& [name, guid] : declared) {
    SCOPED_TRACE(name);
    ASSERT_EQ(dec.count(name), 1u);
    EXPECT_EQ(dec.at(name).Text(), FromEfi(guid).Text());
  }
  const std::map<std::string, EFI_GUID> standard = {
      {"gEfiMpServiceProtocolGuid", kMpServicesProtocolGuid},
      {"gEfiAcpiTableProtocolGuid", kAcpiTableProtocolGuid},
      {"gEfiAcpiSdtProtocolGuid", kAcpiSdtProtocolGuid},
      {"gEfiSmmBase2ProtocolGuid", kSmmBase2ProtocolGuid},
      {"gEfiSmmAccess2ProtocolGuid", kSmmAccess2ProtocolGuid},
      {"gEfiSmmVariableProtocolGuid", kSmmVariableProtocolGuid},
      {"gEfiHobListGuid", kHobListGuid},
  };
  EXPECT_EQ(fvtool::StandardGuidNames().size(), standard.size());
  for (const auto& [name, guid] : standard) {
    SCOPED_TRACE(name);
    ASSERT_EQ(fvtool::StandardGuidNames().count(name), 1u);
    EXPECT_EQ(fvtool::StandardGuidNames().at(name).Text(), FromEfi(guid).Text());
  }
}

TEST(FvtoolIntegration, ModuleDescriptionsCompileToTheDependenciesOfEachImage) {
  // 3FDDA605-A76E-4F46-AD29-12F4531B3D08 (MP services), 3C6ED57C-4F6A-8A58-85DF-DCA5ADF0F16B
  // (PlatformTopologyProtocol), 881B4AB6-17B0-4BDF-88E2-D429DA425FFD (SwSmiDispatchProtocol),
  // 8151730C-E1D3-4C8C-917B-A39B7ED48265 (ConfigTokenService).
  const Bytes mp = {0x05, 0xA6, 0xDD, 0x3F, 0x6E, 0xA7, 0x46, 0x4F,
                    0xAD, 0x29, 0x12, 0xF4, 0x53, 0x1B, 0x3D, 0x08};
  const Bytes topology = {0x7C, 0xD5, 0x6E, 0x3C, 0x6A, 0x4F, 0x58, 0x8A,
                          0x85, 0xDF, 0xDC, 0xA5, 0xAD, 0xF0, 0xF1, 0x6B};
  const Bytes swSmi = {0xB6, 0x4A, 0x1B, 0x88, 0xB0, 0x17, 0xDF, 0x4B,
                       0x88, 0xE2, 0xD4, 0x29, 0xDA, 0x42, 0x5F, 0xFD};
  const Bytes token = {0x0C, 0x73, 0x51, 0x81, 0xD3, 0xE1, 0x8C, 0x4C,
                       0x91, 0x7B, 0xA3, 0x9B, 0x7E, 0xD4, 0x82, 0x65};
  struct Case {
    const char* inf;
    const char* baseName;
    const char* moduleType;
    Bytes depex;
  };
  const Case cases[] = {
      {"AddrTranslateDxe/AddrTranslateDxe.inf", "AddrTranslateDxe", "DXE_DRIVER",
       Cat({{0x02}, mp, {0x02}, topology, {0x03, 0x08}})},
      {"MemTuneSmm/MemTuneSmm.inf", "MemTuneSmm", "DXE_SMM_DRIVER",
       Cat({{0x02}, swSmi, {0x02}, token, {0x03, 0x08}})},
  };
  const fvtool::GuidNames names = fvtool::ResolveGuidNames({Integration("TivFirmware.dec")});
  std::set<std::string> fileGuids;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inf);
    const fvtool::InfModule m = fvtool::ReadInf(Integration(c.inf));
    EXPECT_EQ(m.baseName, c.baseName);
    EXPECT_EQ(m.moduleType, c.moduleType);
    ASSERT_TRUE(m.fileGuid && m.depex);
    fileGuids.insert(m.fileGuid->Text());
    const auto kind = std::string(c.moduleType) == "DXE_SMM_DRIVER" ? fvtool::DepexKind::kSmm
                                                                    : fvtool::DepexKind::kDxe;
    EXPECT_EQ(fvtool::CompileDepex(*m.depex, names, kind), c.depex);
  }
  EXPECT_EQ(fileGuids.size(), 2u) << "each image has its own FILE_GUID";
}

// Each GUID name an INF uses (in [Protocols], [Guids], [Ppis] or [Depex]) is
// declared by a package its [Packages] lists, so the module builds in an
// EDK II tree. The EDK II declarations, written from MdePkg.dec and
// MdeModulePkg.dec (edk2-stable202211); our own come from TivFirmware.dec.
TEST(FvtoolIntegration, EachInfListsThePackagesThatDeclareItsGuids) {
  std::map<std::string, std::string> declaredIn = {
      {"gEfiMpServiceProtocolGuid", "MdePkg/MdePkg.dec"},
      {"gEfiAcpiTableProtocolGuid", "MdePkg/MdePkg.dec"},
      {"gEfiAcpiSdtProtocolGuid", "MdePkg/MdePkg.dec"},
      {"gEfiHobListGuid", "MdePkg/MdePkg.dec"},
      {"gEfiSmmBase2ProtocolGuid", "MdePkg/MdePkg.dec"},
      {"gEfiSmmAccess2ProtocolGuid", "MdePkg/MdePkg.dec"},
      {"gEfiSmmVariableProtocolGuid", "MdeModulePkg/MdeModulePkg.dec"},
  };
  for (const auto& [name, guid] : fvtool::ReadDec(Integration("TivFirmware.dec")))
    declaredIn[name] = "TivFirmware/TivFirmware.dec";
  for (const char* inf : {"AddrTranslateDxe/AddrTranslateDxe.inf", "MemTuneSmm/MemTuneSmm.inf"}) {
    SCOPED_TRACE(inf);
    const fvtool::InfModule m = fvtool::ReadInf(Integration(inf));
    std::vector<std::string> names = m.guids;
    std::istringstream depex(m.depex.value_or(""));
    for (std::string word; depex >> word;)
      if (word != "AND" && word != "OR" && word != "NOT" && word != "TRUE" && word != "FALSE")
        names.push_back(word);
    EXPECT_FALSE(m.guids.empty());
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      ASSERT_EQ(declaredIn.count(name), 1u) << "declared by no package we know";
      EXPECT_NE(std::find(m.packages.begin(), m.packages.end(), declaredIn[name]), m.packages.end())
          << declaredIn[name] << " is not in [Packages]";
    }
  }
}

// The source package (TivFirmwarePkg, built by EDK II) and the binary package
// describe the same modules: every GUID of TivFirmware.dec with the same value
// (and the PCDs' token space besides), and each module's name, type,
// FILE_GUID and dependency expression.
TEST(FvtoolIntegration, SourcePackageDescribesTheModulesOfTheBinaryPackage) {
  const fvtool::GuidNames binary = fvtool::ReadDec(Integration("TivFirmware.dec"));
  const fvtool::GuidNames source =
      fvtool::ReadDec(Integration("TivFirmwarePkg/TivFirmwarePkg.dec"));
  EXPECT_EQ(source.size(), binary.size() + 1);
  EXPECT_EQ(source.count("gTivFirmwarePkgTokenSpaceGuid"), 1u);
  for (const auto& [name, guid] : binary) {
    SCOPED_TRACE(name);
    ASSERT_EQ(source.count(name), 1u);
    EXPECT_EQ(source.at(name).Text(), guid.Text());
  }
  for (const char* module : {"AddrTranslateDxe", "MemTuneSmm"}) {
    SCOPED_TRACE(module);
    const std::string inf = std::string(module) + "/" + module + ".inf";
    const fvtool::InfModule b = fvtool::ReadInf(Integration(inf.c_str()));
    const fvtool::InfModule s = fvtool::ReadInf(Integration(("TivFirmwarePkg/" + inf).c_str()));
    EXPECT_EQ(s.baseName, b.baseName);
    EXPECT_EQ(s.moduleType, b.moduleType);
    ASSERT_TRUE(s.fileGuid && b.fileGuid && s.depex && b.depex);
    EXPECT_EQ(s.fileGuid->Text(), b.fileGuid->Text());
    EXPECT_EQ(*s.depex, *b.depex);
  }
}

TEST(FvtoolIntegration, InfSectionsChooseTheDepexForX64AndTheModuleType) {
  struct Case {
    const char* text;
    const char* depex;    // nullptr: none
    const char* failure;  // nullptr: parses
  };
  const Case cases[] = {
      {"[Defines]\n MODULE_TYPE = DXE_SMM_DRIVER # c\n[Depex.IA32]\n "
       "gA\n[Depex.X64.DXE_SMM_DRIVER]\n gB AND\n gC # d\n",
       "gB AND gC", nullptr},
      {"[Defines]\n MODULE_TYPE = DXE_DRIVER\n[Depex.common.DXE_SMM_DRIVER]\n gA\n", nullptr,
       nullptr},
      {"[Defines]\n MODULE_TYPE = DXE_DRIVER\n[Depex]\n gA\n[Depex.X64]\n gB\n", nullptr,
       "a second [Depex]"},
      {"[Defines]\n FILE_GUID = 1234\n", nullptr, "is not a GUID"},
      {"[Defines\n", nullptr, "malformed section header"},
  };
  const std::string path = std::string(TIV_BINARY_DIR) + "/fvtool_test.inf";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(path) << c.text;
    try {
      const fvtool::InfModule m = fvtool::ReadInf(path);
      EXPECT_EQ(c.failure, nullptr);
      EXPECT_EQ(m.depex.has_value(), c.depex != nullptr);
      if (m.depex && c.depex) {
        EXPECT_EQ(*m.depex, c.depex);
      }
    } catch (const fvtool::InputError& e) {
      ASSERT_NE(c.failure, nullptr) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.failure), std::string::npos) << e.what();
    }
  }
}

TEST(FvtoolIntegration, AddItemsParseAndRefuseClearly) {
  struct Case {
    const char* text;
    const char* failure;  // nullptr: parses
  };
  const Case cases[] = {
      {"smm:a.efi,inf=b.inf,guid=00112233-4455-6677-8899-AABBCCDDEEFF,name=N,depex=gA AND gB",
       nullptr},
      {"dxe:dir/a.efi", nullptr},
      {"a.efi", "expected TYPE:PATH.efi"},
      {"pei:a.efi", "neither smm nor dxe"},
      {"dxe:", "no image path"},
      {"dxe:a.efi,color=red", "unknown key 'color'"},
      {"dxe:a.efi,name=A,name=B", "given twice"},
      {"dxe:a.efi,depex", "is not key=value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      const fvtool::InsertionRequest s = fvtool::ParseInsertionRequest(c.text);
      EXPECT_EQ(c.failure, nullptr);
    } catch (const fvtool::InputError& e) {
      ASSERT_NE(c.failure, nullptr) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.failure), std::string::npos) << e.what();
    }
  }
  const fvtool::InsertionRequest full = fvtool::ParseInsertionRequest(cases[0].text);
  EXPECT_TRUE(full.smm);
  EXPECT_EQ(full.path, "a.efi");
  EXPECT_EQ(full.inf, "b.inf");
  EXPECT_EQ(full.name, "N");
  EXPECT_EQ(full.depex, "gA AND gB");
  // The INF's module type must fit the item's type.
  fvtool::InsertionRequest wrong = fvtool::ParseInsertionRequest(
      "smm:x.efi,inf=" + Integration("AddrTranslateDxe/AddrTranslateDxe.inf"));
  EXPECT_THROW(fvtool::ResolveInsertionRequest(wrong, TestNames()), fvtool::InputError);
}

}  // namespace
