// Calls into the platform's device-property database and platform services.
// A missing protocol makes each call a successful no-op: the adapter keeps
// working, only undescribed.
#include "driver/hw/properties.h"

#include "driver/core/devices.h"

namespace {

// Room for a reversed value; reversal is asked for with 4-byte integers.
constexpr UINTN kReverseBufferSize = 264;

}  // namespace

void ReverseBytes(const UINT8* Source, UINT8* Destination, UINTN Count) {
  for (UINTN Index = 0; Index < Count; Index++) {
    Destination[Index] = Source[Count - 1 - Index];
  }
}

EFI_STATUS AddDeviceProperty(ADAPTER_CONTEXT* Context, const CHAR16* Name, UINTN Size, const void* Value,
                             BOOLEAN Reverse) {
  if (!Context->HasPropertyDatabase) {
    return EFI_SUCCESS;
  }
  UINT8 Reversed[kReverseBufferSize];
  if (Reverse) {
    if (Size > sizeof(Reversed)) {
      return EFI_INVALID_PARAMETER;
    }
    ReverseBytes(static_cast<const UINT8*>(Value), Reversed, Size);
    Value = Reversed;
  }
  DEVICE_PROPERTY_DATABASE_PROTOCOL* Database = Context->PropertyDatabase;
  return Database->AddProperty(Database, Context->ParentDevicePath, Name, Value, Size);
}

EFI_STATUS SetDisplayProperty(ADAPTER_CONTEXT* Context, const CHAR16* Node, const CHAR16* Name, UINT32 Size,
                              const void* Value) {
  if (!Context->HasPlatformServices) {
    return EFI_SUCCESS;
  }
  PLATFORM_SERVICES_PROTOCOL* Services = Context->PlatformServices;
  return Services->SetNodeProperty(Services, Context->ParentDevicePath, Node, Name, Value, Size);
}

EFI_STATUS GetPlatformValue(ADAPTER_CONTEXT* Context, const EFI_GUID* Key, void* Buffer, UINTN Size) {
  if (!Context->HasPlatformServices) {
    return EFI_SUCCESS;
  }
  // The member takes a writable key; the caller's stays untouched.
  EFI_GUID LocalKey = *Key;
  PLATFORM_SERVICES_PROTOCOL* Services = Context->PlatformServices;
  return Services->GetValue(Services, &LocalKey, Buffer, &Size);
}

EFI_STATUS RegisterAdapter(ADAPTER_CONTEXT* Context) {
  if (!Context->HasPlatformServices) {
    return EFI_SUCCESS;
  }
  PLATFORM_SERVICES_PROTOCOL* Services = Context->PlatformServices;
  return Services->RegisterAdapter(Services, QUOVAN_PCI_VENDOR_ID, Context->DeviceId, Context->ControllerHandle);
}
