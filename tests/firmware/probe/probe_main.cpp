// efi_main of the probe application (System V convention, called by gnu-efi's
// start-up code).
#include "probe.h"

extern "C" EFI_STATUS efi_main(EFI_HANDLE imageHandle, EFI_SYSTEM_TABLE* st) {
  probe::Context ctx{imageHandle, st, st->BootServices};
  probe::Print(st, "PROBE START\n");
  for (const probe::Check* c = probe::kProbeChecks; c->run != nullptr; ++c) c->run(ctx);
  probe::Print(st, "PROBE DONE checks=");
  probe::PrintHex(st, ctx.checks);
  probe::Print(st, " failures=");
  probe::PrintHex(st, ctx.failures);
  probe::Print(st, "\n");
  return ctx.failures == 0 ? EFI_SUCCESS : EFI_ABORTED;
}
