#include "sim/platform/platform_core.h"

#include "efi/efi_guids.h"

namespace simplatform {
namespace {

const Sink* SinkOf(DEVICE_PROPERTY_DATABASE_PROTOCOL* This) {
  return reinterpret_cast<PropertyDatabase*>(This)->sink;
}
const Sink* SinkOf(PLATFORM_SERVICES_PROTOCOL* This) { return reinterpret_cast<PlatformServices*>(This)->sink; }

EFI_STATUS EFIAPI AddProperty(DEVICE_PROPERTY_DATABASE_PROTOCOL* This, EFI_DEVICE_PATH_PROTOCOL* DevicePath,
                              const CHAR16* Name, const VOID* Value, UINTN Size) {
  const Sink* sink = SinkOf(This);
  sink->property(sink->ctx, DevicePath, nullptr, Name, Value, Size);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI RegisterAdapter(PLATFORM_SERVICES_PROTOCOL* This, UINT16 VendorId, UINT16 DeviceId,
                                  EFI_HANDLE ControllerHandle) {
  const Sink* sink = SinkOf(This);
  sink->register_adapter(sink->ctx, VendorId, DeviceId, ControllerHandle);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetValue(PLATFORM_SERVICES_PROTOCOL* This, EFI_GUID* Key, VOID* Buffer, UINTN* Size) {
  const Sink* sink = SinkOf(This);
  if (Key == nullptr || Buffer == nullptr || Size == nullptr) {
    sink->unexpected(sink->ctx, "services", 5);
    return EFI_INVALID_PARAMETER;
  }
  uint32_t value = 0;
  if (!sink->get_value(sink->ctx, Key, *Size, &value)) {
    return EFI_NOT_FOUND;
  }
  if (*Size < sizeof(value)) {
    *Size = sizeof(value);
    return EFI_BUFFER_TOO_SMALL;
  }
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  for (unsigned i = 0; i < sizeof(value); i++) {
    out[i] = static_cast<uint8_t>(value >> (8 * i));
  }
  *Size = sizeof(value);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SetNodeProperty(PLATFORM_SERVICES_PROTOCOL* This, EFI_DEVICE_PATH_PROTOCOL* DevicePath,
                                  const CHAR16* Node, const CHAR16* Name, const VOID* Value, UINT32 Size) {
  const Sink* sink = SinkOf(This);
  if (Node == nullptr) {
    sink->unexpected(sink->ctx, "services", 6);
    return EFI_INVALID_PARAMETER;
  }
  sink->property(sink->ctx, DevicePath, Node, Name, Value, Size);
  return EFI_SUCCESS;
}

// The members the driver must not call. Only This is read: whatever else a
// caller passes is ignored under the Microsoft calling convention.
template <unsigned Member>
EFI_STATUS EFIAPI UnexpectedDatabase(DEVICE_PROPERTY_DATABASE_PROTOCOL* This) {
  const Sink* sink = SinkOf(This);
  sink->unexpected(sink->ctx, "database", Member);
  return EFI_UNSUPPORTED;
}

template <unsigned Member>
EFI_STATUS EFIAPI UnexpectedServices(PLATFORM_SERVICES_PROTOCOL* This) {
  const Sink* sink = SinkOf(This);
  sink->unexpected(sink->ctx, "services", Member);
  return EFI_UNSUPPORTED;
}

template <typename Fn>
UINT64 MemberOf(Fn fn) {
  return reinterpret_cast<UINT64>(fn);
}

}  // namespace

void InitPropertyDatabase(PropertyDatabase* database, const Sink* sink) {
  database->protocol.Member1 = MemberOf(&UnexpectedDatabase<1>);
  database->protocol.Member2 = MemberOf(&UnexpectedDatabase<2>);
  database->protocol.AddProperty = &AddProperty;
  database->protocol.Member4 = MemberOf(&UnexpectedDatabase<4>);
  database->sink = sink;
}

void InitPlatformServices(PlatformServices* services, const Sink* sink) {
  services->protocol.Member1 = MemberOf(&UnexpectedServices<1>);
  services->protocol.Member2 = MemberOf(&UnexpectedServices<2>);
  services->protocol.RegisterAdapter = &RegisterAdapter;
  services->protocol.Member4 = MemberOf(&UnexpectedServices<4>);
  services->protocol.GetValue = &GetValue;
  services->protocol.SetNodeProperty = &SetNodeProperty;
  services->sink = sink;
}

EFI_STATUS InstallThroughBootServices(EFI_BOOT_SERVICES* boot_services, PropertyDatabase* database,
                                      PlatformServices* services, EFI_HANDLE* handle) {
  EFI_STATUS status = EFI_SUCCESS;
  if (database != nullptr) {
    status = boot_services->InstallProtocolInterface(handle, &kDevicePropertyDatabaseProtocolGuid,
                                                     EFI_NATIVE_INTERFACE, &database->protocol);
    if (EFI_ERROR(status)) {
      return status;
    }
  }
  if (services != nullptr) {
    status = boot_services->InstallProtocolInterface(handle, &kPlatformServicesProtocolGuid,
                                                     EFI_NATIVE_INTERFACE, &services->protocol);
  }
  return status;
}

}  // namespace simplatform
