// fvtool on Debian's OVMF image, and the command-line contract that the
// firmware tests and engineers rely on (output, exit codes 0/1/2).
#include "synthetic_image.h"
#include "tools/fvtool/insertion_request.h"
#include "tools/fvtool/edk2_files.h"
#include "tools/fvtool/file_io.h"
#include "tools/fvtool/firmware_volume.h"
#include "tools/fvtool/insert_drivers.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>

namespace {

using fvtest::Bytes;

const char* const kOvmfSmm = "/usr/share/OVMF/OVMF_CODE_4M.secboot.fd";

std::string Src(const std::string& rel) {
  return std::string(TIV_SOURCE_DIR) + "/" + rel;
}
std::string Bin(const std::string& rel) {
  return std::string(TIV_BINARY_DIR) + "/" + rel;
}

// The DXE volume (the one holding the DXE core) and the section whose LZMA
// data holds it.
struct DxePlace {
  const fvtool::Volume* volume = nullptr;
  const fvtool::Section* lzma = nullptr;
};

DxePlace FindDxe(const fvtool::FlashImage& image) {
  DxePlace place;
  for (const fvtool::Volume* v : fvtool::AllVolumes(image))
    for (const fvtool::FfsFile& f : v->files) {
      if (f.type == 0x05) place.volume = v;
      for (const fvtool::Section& s : f.sections)
        if (s.decoded) place.lzma = &s;
    }
  return place;
}

TEST(FvtoolOvmf, InsertsIntoTheCompressedDxeVolumeAndChangesNothingElse) {
  const Bytes flash = fvtool::ReadFileBytes(kOvmfSmm, "OVMF", 64u << 20);
  const fvtool::GuidNames names = fvtool::ResolveGuidNames({Src("integration/TivFirmware.dec")});
  const std::string smmImage = Bin("fvtool_test_smm.efi"), dxeImage = Bin("fvtool_test_dxe.efi");
  const Bytes smmBytes = fvtest::Pe32Plus(fvtest::Random(0x1800, 7));
  const Bytes dxeBytes = fvtest::Pe32Plus(fvtest::Random(0x900, 8));
  fvtool::WriteFileBytes(smmImage, smmBytes);
  fvtool::WriteFileBytes(dxeImage, dxeBytes);
  const std::vector<fvtool::DriverInsert> drivers = {
      fvtool::ResolveInsertionRequest(
          fvtool::ParseInsertionRequest("smm:" + smmImage +
                                        ",inf=" + Src("integration/MemTuneSmm/MemTuneSmm.inf")),
          names),
      fvtool::ResolveInsertionRequest(
          fvtool::ParseInsertionRequest("dxe:" + dxeImage + ",inf=" +
                                        Src("integration/AddrTranslateDxe/AddrTranslateDxe.inf")),
          names)};
  fvtool::InsertOptions options;
  options.lzmaLevel = 1;  // what is checked does not depend on the level; 1 is 3x faster than 6
  const Bytes out = fvtool::InsertDrivers(flash, drivers, options);
  ASSERT_EQ(out.size(), flash.size());

  const fvtool::FlashImage before = fvtool::ParseFlash(flash), after = fvtool::ParseFlash(out);
  const DxePlace oldDxe = FindDxe(before), newDxe = FindDxe(after);
  ASSERT_TRUE(oldDxe.volume && oldDxe.lzma && newDxe.volume && newDxe.lzma);

  // The new files, as `list` shows them, in the DXE volume's former free space.
  ASSERT_EQ(newDxe.volume->files.size(), oldDxe.volume->files.size() + 2);
  const fvtool::FfsFile& smm = newDxe.volume->files[newDxe.volume->files.size() - 2];
  const fvtool::FfsFile& dxe = newDxe.volume->files.back();
  EXPECT_EQ(smm.type, 0x0A);
  EXPECT_EQ(smm.uiName, "MemTuneSmm");
  EXPECT_EQ(smm.name.Text(), "96A740D9-8F8B-4217-89F0-7C905C4FA274");
  EXPECT_EQ(dxe.type, 0x07);
  EXPECT_EQ(dxe.uiName, "AddrTranslateDxe");
  EXPECT_EQ(smm.offset, oldDxe.volume->freeOffset);
  ASSERT_EQ(smm.sections.size(), 3u);
  EXPECT_EQ(smm.sections[0].type, 0x1C);
  EXPECT_EQ(dxe.sections[0].type, 0x13);

  // Decompressed: the same length, equal except the new files' bytes, which
  // were erased bytes before.
  const Bytes& oldData = *oldDxe.lzma->decoded;
  const Bytes& newData = *newDxe.lzma->decoded;
  ASSERT_EQ(oldData.size(), newData.size());
  const std::size_t from = smm.offset, to = dxe.offset + dxe.size;
  EXPECT_TRUE(std::equal(oldData.begin(), oldData.begin() + from, newData.begin()));
  EXPECT_TRUE(std::equal(oldData.begin() + to, oldData.end(), newData.begin() + to));
  EXPECT_TRUE(std::all_of(oldData.begin() + from, oldData.begin() + to,
                          [](uint8_t b) { return b == 0xFF; }));

  // The flash: identical outside the FV_IMAGE file's room (from the file to
  // the end of its volume); erased after the file within it.
  const fvtool::Volume& outer = after.volumes.at(0);
  const fvtool::FfsFile& fvFile = outer.files.back();
  EXPECT_EQ(fvFile.type, 0x0B);
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + fvFile.offset, out.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + outer.End(), flash.end(), out.begin() + outer.End()));
  EXPECT_TRUE(std::all_of(out.begin() + fvFile.offset + fvFile.size, out.begin() + outer.End(),
                          [](uint8_t b) { return b == 0xFF; }));
}

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Fvtool(const std::string& args) {
  const std::string cmd = Bin("tools/fvtool/fvtool") + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ToolRun r{-1, ""};
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

TEST(FvtoolCommandLine, ExitCodesAndDepexOutput) {
  const std::string notFv = Bin("fvtool_test_random.bin");
  fvtool::WriteFileBytes(notFv, fvtest::Random(0x1000, 11));
  const std::string dec = " --dec " + Src("integration/TivFirmware.dec");
  struct Case {
    std::string args;
    int status;
    std::string output;  // a part of the output
  };
  const Case cases[] = {
      {"depex --expr TRUE --smm", 0, "06 00 00 1C 06 08\n"},
      {"depex --inf " + Src("integration/AddrTranslateDxe/AddrTranslateDxe.inf") + dec, 0,
       "28 00 00 13 02 05 A6 DD 3F 6E A7 46 4F AD 29 12 F4 53 1B 3D 08 02 7C D5 6E 3C 6A 4F 58 8A "
       "85 DF DC A5 AD F0 F1 6B 03 08\n"},
      {"depex --expr gNope", 1, "unknown GUID name gNope"},
      {"depex --expr 'TRUE AND'", 2, "expected a GUID"},
      {"list " + notFv, 1, "not a firmware image"},
      {"list /nonexistent.fd", 2, "No such file"},
      {"insert " + notFv + " -o " + Bin("fvtool_test_out.fd"), 2, "--add"},
      {"insert " + notFv + " -o " + Bin("fvtool_test_out.fd") + " --add dxe:" + notFv +
           ",guid=00112233-4455-6677-8899-AABBCCDDEEFF",
       1, "is not a PE32+ image"},
      {"frobnicate", 2, ""},
      {"--version", 0, "fvtool 0."},
      {"--help", 0, "Exit codes: 0 done, 1 refused"},
      {"list --help", 0, "Exit codes: 0 done, 1 refused"},
      {"insert --help", 0, "Exit codes: 0 done, 1 refused"},
      {"depex --help", 0, "Exit codes: 0 done, 1 refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = Fvtool(c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.output), std::string::npos) << r.out;
  }
}

}  // namespace
