/* What an EDK II module's AutoGen.h gives every source first: MdePkg's
 * definitions for the module type, and the GUIDs the module's INF lists
 * (declared here, defined in AutoGen.c), for a caller whose INF lists
 * gTranslationProtocolGuid and gPlatformTopologyProtocolGuid with
 * TivFirmwarePkg.dec. */
#include <PiDxe.h>

extern EFI_GUID gTranslationProtocolGuid;
extern EFI_GUID gPlatformTopologyProtocolGuid;
