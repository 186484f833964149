// The platform's device-property database and platform services protocols.
// Both are tables of 64-bit members; only the members the driver calls are
// typed, the others keep their positions.
#pragma once

#include "efi/efi_device_path.h"
#include "efi/efi_types.h"

struct DEVICE_PROPERTY_DATABASE_PROTOCOL;
struct PLATFORM_SERVICES_PROTOCOL;

typedef EFI_STATUS(EFIAPI* DEVICE_PROPERTY_DATABASE_ADD_PROPERTY)(DEVICE_PROPERTY_DATABASE_PROTOCOL* This,
                                                                   EFI_DEVICE_PATH_PROTOCOL* DevicePath,
                                                                   const CHAR16* Name, const VOID* Value,
                                                                   UINTN Size);

struct DEVICE_PROPERTY_DATABASE_PROTOCOL {
  UINT64 Member1;
  UINT64 Member2;
  DEVICE_PROPERTY_DATABASE_ADD_PROPERTY AddProperty;  // member 3
  UINT64 Member4;
};
static_assert(offsetof(DEVICE_PROPERTY_DATABASE_PROTOCOL, AddProperty) == 16, "database member 3");

typedef EFI_STATUS(EFIAPI* PLATFORM_SERVICES_REGISTER_ADAPTER)(PLATFORM_SERVICES_PROTOCOL* This, UINT16 VendorId,
                                                                UINT16 DeviceId, EFI_HANDLE ControllerHandle);
typedef EFI_STATUS(EFIAPI* PLATFORM_SERVICES_GET_VALUE)(PLATFORM_SERVICES_PROTOCOL* This, EFI_GUID* Key,
                                                         VOID* Buffer, UINTN* Size);
typedef EFI_STATUS(EFIAPI* PLATFORM_SERVICES_SET_NODE_PROPERTY)(PLATFORM_SERVICES_PROTOCOL* This,
                                                                 EFI_DEVICE_PATH_PROTOCOL* DevicePath,
                                                                 const CHAR16* Node, const CHAR16* Name,
                                                                 const VOID* Value, UINT32 Size);

struct PLATFORM_SERVICES_PROTOCOL {
  UINT64 Member1;
  UINT64 Member2;
  PLATFORM_SERVICES_REGISTER_ADAPTER RegisterAdapter;  // member 3
  UINT64 Member4;
  PLATFORM_SERVICES_GET_VALUE GetValue;               // member 5
  PLATFORM_SERVICES_SET_NODE_PROPERTY SetNodeProperty;  // member 6
};
static_assert(offsetof(PLATFORM_SERVICES_PROTOCOL, RegisterAdapter) == 16, "services member 3");
static_assert(offsetof(PLATFORM_SERVICES_PROTOCOL, GetValue) == 32, "services member 5");
static_assert(offsetof(PLATFORM_SERVICES_PROTOCOL, SetNodeProperty) == 40, "services member 6");
