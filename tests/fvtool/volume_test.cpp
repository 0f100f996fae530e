// Reading images: which "_FVH" signatures are volumes, the files and free
// space found, malformed files refused, and what a driver image must be.
#include "synthetic_image.h"
#include "tools/fvtool/errors.h"
#include "tools/fvtool/firmware_volume.h"
#include "tools/fvtool/listing.h"
#include "tools/fvtool/pe_image.h"

#include <gtest/gtest.h>

namespace {

using fvtest::Bytes;

TEST(FvtoolParse, FindsVolumesBehindFalseSignaturesAndListsTheirFiles) {
  // Code that happens to hold "_FVH", and a copy of a header with one bad byte.
  Bytes flash = fvtest::Random(0x200, 5);
  std::memcpy(&flash[0x30], "_FVH", 4);
  const Bytes dxe = fvtest::DxeVolume(0x2000);
  std::copy(dxe.begin(), dxe.begin() + 0x48, flash.begin() + 0x100);
  flash[0x100 + 0x20] ^= 1;  // FvLength: the header checksum no longer holds
  fvtest::Append(flash, dxe);
  const Bytes ui = {'N', 0, 'a', 0, 'm', 0, 'e', 0, 0, 0};
  fvtest::Append(
      flash,
      fvtest::Volume(0x1000, {fvtest::File(fvtest::G(3), 0x0A,
                                           fvtest::Sections({fvtest::Section(0x1C, {0x06, 0x08}),
                                                             fvtest::Section(0x15, ui)}))}));

  const fvtool::FlashImage image = fvtool::ParseFlash(flash);
  EXPECT_EQ(image.skippedCandidates, 2u);
  ASSERT_EQ(image.volumes.size(), 2u);
  const fvtool::Volume& v = image.volumes[0];
  EXPECT_EQ(v.offset, 0x200u);
  EXPECT_EQ(v.length, 0x2000u);
  ASSERT_EQ(v.files.size(), 2u);
  EXPECT_EQ(v.files[0].offset, 0x248u);
  EXPECT_EQ(v.files[0].type, 0x05);
  EXPECT_EQ(v.files[1].type, 0x07);
  EXPECT_EQ(v.files[1].offset, (0x248 + v.files[0].size + 7) / 8 * 8);
  EXPECT_EQ(v.freeOffset, (v.files[1].offset + v.files[1].size + 7) / 8 * 8);
  EXPECT_EQ(v.freeSize, 0x2200 - v.freeOffset);
  EXPECT_TRUE(v.freeErased);
  const fvtool::FfsFile& smm = image.volumes[1].files.at(0);
  EXPECT_EQ(smm.uiName, "Name");
  EXPECT_EQ(smm.type, 0x0A);
  EXPECT_EQ(smm.size, 24u + 8 + 14);

  const auto json = fvtool::ListJson(image, flash.size());
  EXPECT_EQ(json["volumes"][1]["files"][0]["name"], "Name");
  EXPECT_EQ(json["volumes"][1]["files"][0]["typeName"], "SMM");
  EXPECT_EQ(json["volumes"][0]["free"], v.freeSize);
}

TEST(FvtoolParse, RefusesMalformedFilesNamingTheirOffset) {
  struct Case {
    const char* name;
    std::size_t at;  // byte of the first file to change
    uint8_t xorValue;
    const char* message;
    const char* where;
  };
  const Case cases[] = {
      {"header checksum", 16, 0x01, "wrong header checksum", "flash offset 0x48"},
      {"size past the volume", 22, 0x10, "runs past the end", "flash offset 0x48"},
      {"section size past the file", 24 + 2, 0x01, "section size", "flash offset 0x60"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes v = fvtest::DxeVolume(0x2000);
    v[0x48 + c.at] ^= c.xorValue;
    if (c.at != 16) {  // keep the header checksum right so the size is what is wrong
      uint8_t sum = 0;
      for (int i = 0; i < 24; ++i)
        if (i != 16 && i != 17 && i != 23) sum = static_cast<uint8_t>(sum + v[0x48 + i]);
      v[0x48 + 16] = static_cast<uint8_t>(0 - sum);
    }
    try {
      fvtool::ParseFlash(v);
      ADD_FAILURE() << "accepted";
    } catch (const fvtool::Refusal& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.where), std::string::npos) << e.what();
    }
  }
}

TEST(FvtoolParse, DriverImageMustBeAPe32PlusX64Driver) {
  struct Case {
    const char* name;
    Bytes image;
    const char* message;  // nullptr: accepted
  };
  Bytes noMz = fvtest::Pe32Plus({});
  noMz[0] = 'X';
  Bytes peOutside = fvtest::Pe32Plus({});
  fvtest::Put(peOutside, 0x3C, 0x1000, 4);
  const Case cases[] = {
      {"boot-service driver", fvtest::Pe32Plus({}), nullptr},
      {"runtime driver", fvtest::Pe32Plus({}, 0x20B, 0x8664, 12), nullptr},
      {"no MZ", noMz, "no MZ header"},
      {"PE header outside", peOutside, "lies outside the file"},
      {"PE32, not PE32+", fvtest::Pe32Plus({}, 0x10B), "magic 0x10B"},
      {"not x64", fvtest::Pe32Plus({}, 0x20B, 0xAA64), "not x64"},
      {"application", fvtest::Pe32Plus({}, 0x20B, 0x8664, 10), "EFI application"},
      {"truncated", Bytes{'M', 'Z'}, "no MZ header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.message == nullptr) {
      EXPECT_NO_THROW(fvtool::CheckDriverImage(c.image, "x.efi"));
      continue;
    }
    try {
      fvtool::CheckDriverImage(c.image, "x.efi");
      ADD_FAILURE() << "accepted";
    } catch (const fvtool::Refusal& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
