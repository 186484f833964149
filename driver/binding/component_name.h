// EFI 1.10 Component Name for the driver and the controllers it drives, and
// (with Graphics Output) UEFI Component Name 2 with the same names.
#pragma once

#include "efi/efi.h"

extern EFI_COMPONENT_NAME_PROTOCOL gQuovanComponentName;

EFI_STATUS EFIAPI QuovanGetDriverName(EFI_COMPONENT_NAME_PROTOCOL* This, const CHAR8* Language,
                                      CHAR16** DriverName);
EFI_STATUS EFIAPI QuovanGetControllerName(EFI_COMPONENT_NAME_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                          EFI_HANDLE ChildHandle, const CHAR8* Language,
                                          CHAR16** ControllerName);

#if QUOVAN_GOP
extern EFI_COMPONENT_NAME2_PROTOCOL gQuovanComponentName2;

EFI_STATUS EFIAPI QuovanGetDriverName2(EFI_COMPONENT_NAME2_PROTOCOL* This, const CHAR8* Language,
                                       CHAR16** DriverName);
EFI_STATUS EFIAPI QuovanGetControllerName2(EFI_COMPONENT_NAME2_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                           EFI_HANDLE ChildHandle, const CHAR8* Language,
                                           CHAR16** ControllerName);
#endif
