/* Moves the ivshmem-plain device's memory (BAR2/BAR3, 64-bit) to 0xE0000000,
 * where the drivers and the shell tool expect the fabric's ECAM window, so
 * that a capture reads the bytes the test put into the device's file. QEMU
 * has no data fabric; OVMF places the device's memory elsewhere. */
#include "probe.h"

#define PROBE_WINDOW_BASE 0xE0000000u

static void OutL(uint16_t port, uint32_t value) {
  __asm__ volatile("outl %0, %1" : : "a"(value), "Nd"(port));
}

static uint32_t InL(uint16_t port) {
  uint32_t value;
  __asm__ volatile("inl %1, %0" : "=a"(value) : "Nd"(port));
  return value;
}

static uint32_t ConfigRead(uint8_t device, uint8_t reg) {
  OutL(0xCF8, 0x80000000u | ((uint32_t)device << 11) | (reg & 0xFCu));
  return InL(0xCFC);
}

static void ConfigWrite(uint8_t device, uint8_t reg, uint32_t value) {
  OutL(0xCF8, 0x80000000u | ((uint32_t)device << 11) | (reg & 0xFCu));
  OutL(0xCFC, value);
}

void CheckMoveFabricWindow(ProbeContext* ctx) {
  for (uint8_t device = 0; device < 32; ++device) {
    const uint32_t id = ConfigRead(device, 0);
    if (id != 0x11101AF4u) continue; /* vendor 0x1AF4, device 0x1110 */
    const uint32_t command = ConfigRead(device, 0x04) & 0xFFFF;
    ConfigWrite(device, 0x04, command & ~2u); /* memory space off while moving */
    ConfigWrite(device, 0x18, PROBE_WINDOW_BASE);
    ConfigWrite(device, 0x1C, 0);
    ConfigWrite(device, 0x04, command | 2u);
    /* Node 0's window function: device 0x18, function 4, register 0. */
    const uint32_t vendor = *(volatile uint32_t*)(uintptr_t)(PROBE_WINDOW_BASE + 0xC4000u);
    ProbeText t;
    ProbeExpect(ctx, "move-fabric-window", (vendor & 0xFFFF) == 0x1022,
                TextHex(TextAdd(TextInit(&t), "00:18.4 vendor "), vendor)->buf);
    return;
  }
  ProbeFail(ctx, "move-fabric-window", "no ivshmem-plain device");
}
