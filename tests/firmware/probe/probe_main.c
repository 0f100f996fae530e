/* efi_main of the probe application (System V convention, called by the
 * image's start-up code). */
#include "probe.h"

/* True when the shell's command line (the image's load options, UCS-2)
 * holds `word`. */
static bool CommandLineHas(ProbeContext* ctx, const char* word) {
  EFI_GUID loadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  EFI_LOADED_IMAGE_PROTOCOL* image = 0;
  if (ctx->bs->HandleProtocol(ctx->imageHandle, &loadedImageGuid, (void**)&image) != EFI_SUCCESS ||
      image == 0 || image->LoadOptions == 0)
    return false;
  const CHAR16* options = (const CHAR16*)image->LoadOptions;
  const UINT32 n = image->LoadOptionsSize / sizeof(CHAR16);
  for (UINT32 i = 0; i < n; ++i) {
    UINT32 k = 0;
    while (word[k] != '\0' && i + k < n && options[i + k] == (CHAR16)word[k]) ++k;
    if (word[k] == '\0') return true;
  }
  return false;
}

EFI_STATUS efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* st);

EFI_STATUS efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* st) {
  ProbeContext ctx = {imageHandle, st, st->BootServices, 0, 0};
  const ProbeCheck* checks = kProbeChecks;
  ProbePrint(st, "PROBE START");
  if (CommandLineHas(&ctx, "failed-start")) {
    checks = kFailedStartChecks;
    ProbePrint(st, " failed-start");
  } else if (CommandLineHas(&ctx, "move-window")) {
    checks = kMoveWindowChecks;
    ProbePrint(st, " move-window");
  } else if (CommandLineHas(&ctx, "not-dispatched")) {
    checks = kNotDispatchedChecks;
    ProbePrint(st, " not-dispatched");
  }
  ProbePrint(st, "\n");
  for (const ProbeCheck* c = checks; c->run != 0; ++c) c->run(&ctx);
  ProbePrint(st, "PROBE DONE checks=");
  ProbePrintHex(st, ctx.checks);
  ProbePrint(st, " failures=");
  ProbePrintHex(st, ctx.failures);
  ProbePrint(st, "\n");
  return ctx.failures == 0 ? EFI_SUCCESS : EFI_ABORTED;
}
