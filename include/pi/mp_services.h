// EFI_MP_SERVICES_PROTOCOL, as the PI specification (volume 2) defines it.
#pragma once

#include "efi/uefi.h"

#ifdef TIV_EDK2
// The EDK II build: MdePkg's definitions, the GUID from AutoGen.c.
#include <Protocol/MpService.h>

inline constexpr const EFI_GUID& kMpServicesProtocolGuid = gEfiMpServiceProtocolGuid;
#else
#include <cstddef>

inline constexpr EFI_GUID kMpServicesProtocolGuid = {
    0x3FDDA605, 0xA76E, 0x4F46, {0xAD, 0x29, 0x12, 0xF4, 0x53, 0x1B, 0x3D, 0x08}};

typedef VOID(EFIAPI* EFI_AP_PROCEDURE)(VOID* ProcedureArgument);

struct EFI_MP_SERVICES_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_GET_NUMBER_OF_PROCESSORS)(
    EFI_MP_SERVICES_PROTOCOL* This, UINTN* NumberOfProcessors, UINTN* NumberOfEnabledProcessors);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_GET_PROCESSOR_INFO)(EFI_MP_SERVICES_PROTOCOL* This,
                                                               UINTN ProcessorNumber,
                                                               VOID* ProcessorInfoBuffer);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_STARTUP_ALL_APS)(
    EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread,
    EFI_EVENT WaitEvent, UINTN TimeoutInMicroSeconds, VOID* ProcedureArgument,
    UINTN** FailedCpuList);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_STARTUP_THIS_AP)(
    EFI_MP_SERVICES_PROTOCOL* This, EFI_AP_PROCEDURE Procedure, UINTN ProcessorNumber,
    EFI_EVENT WaitEvent, UINTN TimeoutInMicroseconds, VOID* ProcedureArgument, BOOLEAN* Finished);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_SWITCH_BSP)(EFI_MP_SERVICES_PROTOCOL* This,
                                                       UINTN ProcessorNumber, BOOLEAN EnableOldBSP);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_ENABLEDISABLEAP)(EFI_MP_SERVICES_PROTOCOL* This,
                                                            UINTN ProcessorNumber, BOOLEAN EnableAP,
                                                            UINT32* HealthFlag);
typedef EFI_STATUS(EFIAPI* EFI_MP_SERVICES_WHOAMI)(EFI_MP_SERVICES_PROTOCOL* This,
                                                   UINTN* ProcessorNumber);

struct EFI_MP_SERVICES_PROTOCOL {
  EFI_MP_SERVICES_GET_NUMBER_OF_PROCESSORS GetNumberOfProcessors;
  EFI_MP_SERVICES_GET_PROCESSOR_INFO GetProcessorInfo;
  EFI_MP_SERVICES_STARTUP_ALL_APS StartupAllAPs;
  EFI_MP_SERVICES_STARTUP_THIS_AP StartupThisAP;
  EFI_MP_SERVICES_SWITCH_BSP SwitchBSP;
  EFI_MP_SERVICES_ENABLEDISABLEAP EnableDisableAP;
  EFI_MP_SERVICES_WHOAMI WhoAmI;
};
static_assert(sizeof(EFI_MP_SERVICES_PROTOCOL) == 56);
static_assert(offsetof(EFI_MP_SERVICES_PROTOCOL, GetNumberOfProcessors) == 0);
static_assert(offsetof(EFI_MP_SERVICES_PROTOCOL, StartupThisAP) == 24);
static_assert(offsetof(EFI_MP_SERVICES_PROTOCOL, WhoAmI) == 48);
#endif  // TIV_EDK2
