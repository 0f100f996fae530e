// Puts known memory where MemTuneSmm looks for the memory controller. q35
// has nothing at 0xE0000000 (reads return 0, so no channel looks in use).
// The boot adds an ivshmem-plain device whose shared memory (a host file the
// test wrote) holds kRegisterValue at offset 0xBC; moving its memory BAR to
// 0xE0000000 makes the data register 0xBC of bus 0, device 0, function 0
// return that value for every index the readout writes to 0xB8.
#pragma once

#include <cstdint>

namespace smmprobe {

constexpr uint64_t kControllerWindow = 0xE0000000;

enum class WindowResult { kNoDevice, kMoved, kWrongContents };

// Finds the ivshmem device on bus 0 (configuration mechanism 1, ports
// 0xCF8/0xCFC), moves its shared-memory BAR to kControllerWindow and turns
// memory decoding on; then reads the window back. `readBack` receives the
// value at offset 0xBC.
WindowResult MoveControllerWindow(uint32_t expected, uint32_t* readBack);

}  // namespace smmprobe
