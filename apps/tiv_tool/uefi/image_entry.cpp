// TivTool.efi's entry: the shell's arguments (EFI_SHELL_PARAMETERS_PROTOCOL on
// the image handle) as ASCII words, then the command table.
#include "apps/tiv_tool/core/commands.h"
#include "apps/tiv_tool/uefi/shell_io.h"

#include <stddef.h>

namespace {

static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argv) == 0);
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8);
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, StdIn) == 16);

constexpr EFI_GUID kShellParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
constexpr UINTN kMaxWords = 16;
constexpr UINTN kMaxWordChars = 255;

}  // namespace

// gnu-efi's convention: called by startup/image_start.S, System V.
extern "C" EFI_STATUS efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* st) {
  tivtool::ShellIo io(st);
  void* iface = nullptr;
  if (st->BootServices->HandleProtocol(image, uefi::GuidArg(kShellParametersGuid), &iface) !=
      EFI_SUCCESS) {
    io.Print("TivTool: error: no shell parameters: run TivTool.efi from the UEFI shell");
    return EFI_UNSUPPORTED;
  }
  auto* params = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL*>(iface);
  if (params->Argc > kMaxWords) {
    io.Print("TivTool: error: too many arguments (TivTool help lists the subcommands)");
    return EFI_INVALID_PARAMETER;
  }
  char* words = static_cast<char*>(io.Allocate(kMaxWords * (kMaxWordChars + 1)));
  if (words == nullptr) {
    io.Print("TivTool: error: no memory for the arguments");
    return EFI_OUT_OF_RESOURCES;
  }
  // A word is taken whole or refused: a path cut short or with a character
  // replaced would name another file.
  const char* argv[kMaxWords];
  for (UINTN i = 0; i < params->Argc; ++i) {
    char* w = words + i * (kMaxWordChars + 1);
    const CHAR16* in = params->Argv[i];
    UINTN n = 0;
    for (; in[n] != 0; ++n) {
      if (n == kMaxWordChars || in[n] >= 0x80) {
        io.Print(n == kMaxWordChars ? "TivTool: error: an argument is longer than 255 characters"
                                    : "TivTool: error: an argument holds a character beyond ASCII");
        io.Free(words);
        return EFI_INVALID_PARAMETER;
      }
      w[n] = static_cast<char>(in[n]);
    }
    w[n] = '\0';
    argv[i] = w;
  }
  const EFI_STATUS s = tivtool::Run(io, static_cast<unsigned>(params->Argc), argv);
  io.Free(words);
  return s;
}
