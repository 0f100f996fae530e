// Random flash images through fvtool: finding volumes, walking files and
// sections (LZMA data included), listing them, and inserting one small driver.
// Malformed input may only be refused (Refusal); an insert that succeeds must
// give an image of the same size that parses again and holds the new file.
#include "tools/fvtool/errors.h"
#include "tools/fvtool/firmware_volume.h"
#include "tools/fvtool/insert_drivers.h"
#include "tools/fvtool/listing.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

fvtool::DriverInsert SmallDriver() {
  fvtool::DriverInsert d;
  d.source = "fuzz.efi";
  d.fileType = 0x0A;
  d.fileGuid = fvtool::Guid::FromFields(0x0F0E0D0C, 0x0B0A, 0x0908, {7, 6, 5, 4, 3, 2, 1, 0});
  d.uiName = "Fuzz";
  d.image.assign(0x80, 0x90);
  d.depex = fvtool::Bytes{0x06, 0x08};
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fvtool::InsertOptions options;
  options.limits.maxDecompressed = 1u << 20;  // keeps each input fast
  options.lzmaLevel = 0;
  const fvtool::ByteView flash(data, size);
  try {
    const fvtool::FlashImage image = fvtool::ParseFlash(flash, options.limits);
    Check(!fvtool::ListText(image, size).empty());
    Check(fvtool::ListJson(image, size).is_object());
  } catch (const fvtool::Refusal&) {
    return 0;
  }
  const fvtool::DriverInsert driver = SmallDriver();
  fvtool::Bytes out;
  try {
    out = fvtool::InsertDrivers(flash, {driver}, options);
  } catch (const fvtool::Refusal& e) {
    Check(std::strstr(e.what(), "internal check failed") == nullptr);
    return 0;
  }
  Check(out.size() == size);
  bool found = false;
  const fvtool::FlashImage again = fvtool::ParseFlash(out, options.limits);
  for (const fvtool::Volume* v : fvtool::AllVolumes(again))
    for (const fvtool::FfsFile& f : v->files) found = found || f.name == driver.fileGuid;
  Check(found);
  return 0;
}
