// EFI 1.10 driver model: Driver Binding and Component Name protocols.
#pragma once

#include "efi/efi_device_path.h"
#include "efi/efi_types.h"

struct EFI_DRIVER_BINDING_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_SUPPORTED)(EFI_DRIVER_BINDING_PROTOCOL* This,
                                                         EFI_HANDLE ControllerHandle,
                                                         EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath);
typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_START)(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                                     EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath);
typedef EFI_STATUS(EFIAPI* EFI_DRIVER_BINDING_STOP)(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                                    UINTN NumberOfChildren, EFI_HANDLE* ChildHandleBuffer);

struct EFI_DRIVER_BINDING_PROTOCOL {
  EFI_DRIVER_BINDING_SUPPORTED Supported;
  EFI_DRIVER_BINDING_START Start;
  EFI_DRIVER_BINDING_STOP Stop;
  UINT32 Version;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DriverBindingHandle;
};
static_assert(offsetof(EFI_DRIVER_BINDING_PROTOCOL, Version) == 24, "driver binding layout");
static_assert(offsetof(EFI_DRIVER_BINDING_PROTOCOL, ImageHandle) == 32, "driver binding layout");
static_assert(sizeof(EFI_DRIVER_BINDING_PROTOCOL) == 48, "driver binding layout");

struct EFI_COMPONENT_NAME_PROTOCOL;

typedef EFI_STATUS(EFIAPI* EFI_COMPONENT_NAME_GET_DRIVER_NAME)(EFI_COMPONENT_NAME_PROTOCOL* This,
                                                               const CHAR8* Language, CHAR16** DriverName);
typedef EFI_STATUS(EFIAPI* EFI_COMPONENT_NAME_GET_CONTROLLER_NAME)(EFI_COMPONENT_NAME_PROTOCOL* This,
                                                                   EFI_HANDLE ControllerHandle,
                                                                   EFI_HANDLE ChildHandle, const CHAR8* Language,
                                                                   CHAR16** ControllerName);

// EFI 1.10 Component Name: 3-letter ISO 639-2 language codes.
struct EFI_COMPONENT_NAME_PROTOCOL {
  EFI_COMPONENT_NAME_GET_DRIVER_NAME GetDriverName;
  EFI_COMPONENT_NAME_GET_CONTROLLER_NAME GetControllerName;
  const CHAR8* SupportedLanguages;
};
static_assert(sizeof(EFI_COMPONENT_NAME_PROTOCOL) == 24, "component name layout");

// UEFI Component Name 2: the same members, RFC 4646 language tags ("en").
typedef EFI_COMPONENT_NAME_PROTOCOL EFI_COMPONENT_NAME2_PROTOCOL;

// Driver Configuration and Driver Diagnostics are only installed when given;
// this driver has neither, so their members are not needed here.
struct EFI_DRIVER_CONFIGURATION_PROTOCOL;
struct EFI_DRIVER_DIAGNOSTICS_PROTOCOL;
