// What the tool's commands need from around them: the console, the
// TranslationProtocol, the ACPI tables, physical memory and files. The UEFI
// glue (uefi/) implements it on the shell and the firmware; the host tests
// implement it on the simulated platform, so the commands run unchanged in
// both.
#pragma once

#include "efi/uefi.h"
#include "translation_protocol.h"

#include <stddef.h>
#include <stdint.h>

namespace tivtool {

// Every operation has a body (nothing there, or a failure), so the images
// need no handler for pure virtual calls.
class ToolIo {
 public:
  // One line of output, without its line end.
  virtual void Print(const char* line) { (void)line; }
  // The installed TranslationProtocol, or null.
  virtual TranslationProtocol* Translation() { return nullptr; }
  // The ACPI 2.0 RSDP from the configuration table, or null.
  virtual const void* AcpiRsdp() { return nullptr; }
  // `size` bytes of physical memory at `address`, or null when they cannot be
  // read.
  virtual const void* Physical(uint64_t address, uint64_t size) {
    (void)address;
    (void)size;
    return nullptr;
  }
  // Memory for the tool's own records (a snapshot, the JSON of one); null when
  // there is none.
  virtual void* Allocate(size_t bytes) {
    (void)bytes;
    return nullptr;
  }
  virtual void Free(void* memory) { (void)memory; }
  // Writes `size` bytes to the file `path` (a shell path: fs0:\x.bin, or
  // relative to the current directory), replacing what it held.
  virtual EFI_STATUS WriteFile(const char* path, const void* data, size_t size) {
    (void)path;
    (void)data;
    (void)size;
    return EFI_UNSUPPORTED;
  }
  // The firmware's system table (boot and runtime services, vendor), or null.
  virtual EFI_SYSTEM_TABLE* SystemTable() { return nullptr; }
  // A clock for how long something took, in microseconds (0: none).
  virtual uint64_t Microseconds() { return 0; }

 protected:
  ~ToolIo() = default;
};

}  // namespace tivtool
