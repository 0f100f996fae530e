// ToolIo in the UEFI shell: ConOut for the lines, the boot services for the
// protocol and memory, the configuration table for the RSDP, and the shell's
// own file operations (EFI_SHELL_PROTOCOL), which take fs0:\x.bin as well as
// paths relative to the current directory.
#pragma once

#include "apps/tiv_tool/core/tool_io.h"
#include "efi/uefi.h"

namespace tivtool {

class ShellIo final : public ToolIo {
 public:
  explicit ShellIo(EFI_SYSTEM_TABLE* st) : st_(st) {}

  void Print(const char* line) override;
  TranslationProtocol* Translation() override;
  const void* AcpiRsdp() override;
  const void* Physical(uint64_t address, uint64_t size) override;
  void* Allocate(size_t bytes) override;
  void Free(void* memory) override;
  EFI_STATUS WriteFile(const char* path, const void* data, size_t size) override;
  EFI_SYSTEM_TABLE* SystemTable() override { return st_; }
  uint64_t Microseconds() override;

 private:
  EFI_SYSTEM_TABLE* st_;
  uint64_t ticksPerMillisecond_ = 0;
};

}  // namespace tivtool
