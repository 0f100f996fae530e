#include "tests/firmware/smm_probe/controller_window.h"

#include "hw/hw.h"

namespace smmprobe {

namespace {

constexpr uint16_t kConfigAddress = 0xCF8, kConfigData = 0xCFC;
constexpr uint16_t kIvshmemVendor = 0x1AF4, kIvshmemDevice = 0x1110;
constexpr uint8_t kCommandRegister = 0x04, kBar2 = 0x18, kBar3 = 0x1C;
constexpr uint32_t kMemorySpaceEnable = 1u << 1;

uint32_t ConfigRead(uint8_t device, uint8_t reg) {
  hw::IoWrite32(kConfigAddress, 0x80000000u | (uint32_t(device) << 11) | (reg & 0xFCu));
  return hw::IoRead32(kConfigData);
}

void ConfigWrite(uint8_t device, uint8_t reg, uint32_t value) {
  hw::IoWrite32(kConfigAddress, 0x80000000u | (uint32_t(device) << 11) | (reg & 0xFCu));
  hw::IoWrite32(kConfigData, value);
}

}  // namespace

WindowResult MoveControllerWindow(uint32_t expected, uint32_t* readBack) {
  for (uint8_t device = 0; device < 32; ++device) {
    const uint32_t id = ConfigRead(device, 0);
    if ((id & 0xFFFF) != kIvshmemVendor || (id >> 16) != kIvshmemDevice) continue;
    const uint32_t command = ConfigRead(device, kCommandRegister) & 0xFFFF;
    ConfigWrite(device, kCommandRegister, command & ~kMemorySpaceEnable);
    // A 64-bit BAR: the low half keeps its read-only type bits.
    ConfigWrite(device, kBar2, static_cast<uint32_t>(kControllerWindow));
    ConfigWrite(device, kBar3, static_cast<uint32_t>(kControllerWindow >> 32));
    ConfigWrite(device, kCommandRegister, command | kMemorySpaceEnable);
    *readBack = hw::MmioRead32(kControllerWindow + 0xBC);
    return *readBack == expected ? WindowResult::kMoved : WindowResult::kWrongContents;
  }
  return WindowResult::kNoDevice;
}

}  // namespace smmprobe
