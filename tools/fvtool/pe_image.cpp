#include "tools/fvtool/pe_image.h"

#include "tools/fvtool/errors.h"

namespace fvtool {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kPeSignature = 0x4550;  // "PE\0\0"
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kDosLfanew = 0x3C;
constexpr std::size_t kCoffMachine = 4;      // from the PE signature
constexpr std::size_t kOptionalHeader = 24;  // from the PE signature
constexpr std::size_t kOptSubsystem = 68;    // in the optional header
constexpr uint16_t kSubsystemApplication = 10;
constexpr uint16_t kSubsystemBootDriver = 11;
constexpr uint16_t kSubsystemRuntimeDriver = 12;

}  // namespace

void CheckDriverImage(ByteView image, const std::string& path) {
  const std::string what = path + " is not a PE32+ image: ";
  if (image.size() < 0x40 || Le16(image, 0) != kDosMagic) throw Refusal(what + "no MZ header");
  const std::size_t pe = Le32(image, kDosLfanew);
  if (pe > image.size() || image.size() - pe < kOptionalHeader + kOptSubsystem + 2)
    throw Refusal(what + "the PE header at " + Hex(pe) + " lies outside the file");
  if (Le32(image, pe) != kPeSignature) throw Refusal(what + "no PE signature at " + Hex(pe));
  const uint16_t magic = Le16(image, pe + kOptionalHeader);
  if (magic != kPe32PlusMagic)
    throw Refusal(what + "optional header magic " + Hex(magic) + " (PE32+ is 0x20B)");
  const uint16_t machine = Le16(image, pe + kCoffMachine);
  if (machine != kMachineX64)
    throw Refusal(path + " is a PE32+ image for machine " + Hex(machine) + ", not x64 (0x8664)");
  const uint16_t subsystem = Le16(image, pe + kOptionalHeader + kOptSubsystem);
  if (subsystem == kSubsystemApplication)
    throw Refusal(path + " is an EFI application (subsystem 10), not a driver");
  if (subsystem != kSubsystemBootDriver && subsystem != kSubsystemRuntimeDriver)
    throw Refusal(path + " has subsystem " + std::to_string(subsystem) +
                  ", not a boot-service (11) or runtime (12) driver");
}

}  // namespace fvtool
