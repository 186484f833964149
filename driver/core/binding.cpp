// Driver entry and Driver Binding: Supported, Start and Stop for the
// KT270 controllers. Start takes the controller over and publishes UGA Draw
// (and, on platforms that have them, the two platform interfaces); bringing
// the display engine up waits for the first SetMode.
#include "driver/core/binding.h"

#include "driver/core/component_name.h"
#include "driver/core/devices.h"
#include "driver/platform/callbacks.h"
#include "driver/platform/nodes.h"
#include "driver/uga/uga_draw.h"
#include "driver/core/version.h"
#include "driver/engine/outputs.h"
#include "driver/lib/driverlib.h"
#include "driver/platform/adapter.h"
#include "driver/platform/properties.h"

EFI_DRIVER_BINDING_PROTOCOL gQuovanDriverBinding = {
    QuovanDriverBindingSupported, QuovanDriverBindingStart, QuovanDriverBindingStop, 0, nullptr, nullptr,
};

namespace {

const CHAR8 kModuleName[] = "quovan_1_1";
const UINT32 kStopSignatureLine = 546;

const UINT32 kPciCommandOffset = 0x04;
const UINT16 kPciCommandDecodeBits = 0x0007;  // I/O space, memory space, bus master

VOID* const kEndOfList = nullptr;  // terminates the variadic install lists

// Undoes a partial Start, newest acquisition first, unless dismissed. The
// flags say what has been acquired so far.
class StartRollback {
 public:
  StartRollback(EFI_HANDLE Controller, EFI_HANDLE Agent) : Controller_(Controller), Agent_(Agent) {}
  StartRollback(const StartRollback&) = delete;
  StartRollback& operator=(const StartRollback&) = delete;

  ~StartRollback() {
    if (Dismissed_) return;
    if (UgaDrawInstalled) {
      gBS->UninstallProtocolInterface(Controller_, &kEfiUgaDrawProtocolGuid, &Context->UgaDraw);
    }
    if (Context != nullptr && Context->TimerEvent != nullptr) gBS->CloseEvent(Context->TimerEvent);
    if (PciIoOpen) gBS->CloseProtocol(Controller_, &kEfiPciIoProtocolGuid, Agent_, Controller_);
    if (DevicePathOpen) gBS->CloseProtocol(Controller_, &kEfiDevicePathProtocolGuid, Agent_, Controller_);
    if (Context != nullptr) gBS->FreePool(Context);
  }

  void Dismiss() { Dismissed_ = true; }

  BOOLEAN DevicePathOpen = EFI_FALSE;
  BOOLEAN PciIoOpen = EFI_FALSE;
  ADAPTER_CONTEXT* Context = nullptr;
  BOOLEAN UgaDrawInstalled = EFI_FALSE;

 private:
  EFI_HANDLE Controller_;
  EFI_HANDLE Agent_;
  BOOLEAN Dismissed_ = EFI_FALSE;
};

}  // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gQuovanDriverBinding.Version = static_cast<UINT32>(QUOVAN_DRIVER_VERSION);
  return InstallDriverProtocols(ImageHandle, SystemTable, &gQuovanDriverBinding, ImageHandle,
                                &gQuovanComponentName, nullptr, nullptr);
}

EFI_STATUS EFIAPI QuovanDriverBindingSupported(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                               EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath) {
  (void)RemainingDevicePath;
  EFI_PCI_IO_PROTOCOL* PciIo = nullptr;
  EFI_STATUS Status = gBS->OpenProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, reinterpret_cast<VOID**>(&PciIo),
                                        This->DriverBindingHandle, ControllerHandle,
                                        EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) return Status;

  UINT32 Identifiers = 0;
  Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint32, 0, 1, &Identifiers);
  if (!EFI_ERROR(Status)) Status = DeviceIsSupported(Identifiers) ? EFI_SUCCESS : EFI_UNSUPPORTED;

  gBS->CloseProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, This->DriverBindingHandle, ControllerHandle);
  return Status;
}

EFI_STATUS EFIAPI QuovanDriverBindingStart(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                           EFI_DEVICE_PATH_PROTOCOL* RemainingDevicePath) {
  (void)RemainingDevicePath;
  EFI_HANDLE Agent = This->DriverBindingHandle;

  EFI_DEVICE_PATH_PROTOCOL* DevicePath = nullptr;
  EFI_STATUS Status =
      gBS->OpenProtocol(ControllerHandle, &kEfiDevicePathProtocolGuid, reinterpret_cast<VOID**>(&DevicePath),
                        Agent, ControllerHandle, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status) && Status != EFI_ALREADY_STARTED) return Status;
  StartRollback Rollback(ControllerHandle, Agent);
  Rollback.DevicePathOpen = EFI_TRUE;

  // Both platform protocols are optional; their absence only narrows what
  // Start publishes.
  DEVICE_PROPERTY_DATABASE_PROTOCOL* PropertyDatabase = nullptr;
  BOOLEAN HasPropertyDatabase = !EFI_ERROR(gBS->LocateProtocol(&kDevicePropertyDatabaseProtocolGuid, nullptr,
                                                               reinterpret_cast<VOID**>(&PropertyDatabase)));
  PLATFORM_SERVICES_PROTOCOL* PlatformServices = nullptr;
  BOOLEAN HasPlatformServices = !EFI_ERROR(gBS->LocateProtocol(&kPlatformServicesProtocolGuid, nullptr,
                                                               reinterpret_cast<VOID**>(&PlatformServices)));

  // EFI_ALREADY_STARTED here means this driver already holds the controller
  // for a running adapter. Going on would install a second context and, on
  // the way out, close the running adapter's PCI I/O, so Start stops here.
  EFI_PCI_IO_PROTOCOL* PciIo = nullptr;
  Status = gBS->OpenProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, reinterpret_cast<VOID**>(&PciIo), Agent,
                             ControllerHandle, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) return Status;
  Rollback.PciIoOpen = EFI_TRUE;

  ADAPTER_CONTEXT* Context = nullptr;
  Status = gBS->AllocatePool(EfiBootServicesData, sizeof(ADAPTER_CONTEXT), reinterpret_cast<VOID**>(&Context));
  if (EFI_ERROR(Status)) return Status;
  gBS->SetMem(Context, sizeof(ADAPTER_CONTEXT), 0);
  Rollback.Context = Context;

  Context->Signature = ADAPTER_CONTEXT_SIGNATURE;
  Context->ControllerHandle = ControllerHandle;
  Context->PciIo = PciIo;
  Context->HasPlatformServices = HasPlatformServices;
  Context->HasPropertyDatabase = HasPropertyDatabase;
  if (HasPropertyDatabase) Context->PropertyDatabase = PropertyDatabase;
  if (HasPlatformServices) Context->PlatformServices = PlatformServices;

  // The device path is only borrowed: it keys the device properties.
  gBS->CloseProtocol(ControllerHandle, &kEfiDevicePathProtocolGuid, Agent, ControllerHandle);
  Rollback.DevicePathOpen = EFI_FALSE;
  Context->ParentDevicePath = DevicePath;

  if (HasPlatformServices) {
    Status = NameDisplayNodes(Context);
    if (EFI_ERROR(Status)) return Status;
  }

  Status = InitializeAdapter(Context);
  if (EFI_ERROR(Status)) return Status;

  const SUPPORTED_DEVICE_ROW* Row = nullptr;
  Status = FindDeviceRow(Context->DeviceId, &Row);
  if (EFI_ERROR(Status)) return Status;
  Context->ControllerNameTable[0] = Row->Names[0];

  if (HasPlatformServices) RegisterAdapter(Context);

  EFI_HANDLE Handle = ControllerHandle;
  Status = gBS->InstallMultipleProtocolInterfaces(&Handle, &kEfiUgaDrawProtocolGuid, &Context->UgaDraw,
                                                  kEndOfList);
  // The platform interfaces point into the context, so they are installed
  // only beside a UGA Draw that keeps the context alive.
  if (EFI_ERROR(Status)) return Status;
  Rollback.UgaDrawInstalled = EFI_TRUE;

  if (HasPlatformServices) {
    Status = gBS->InstallMultipleProtocolInterfaces(&Handle, &kConfigInterfaceGuid, &Context->ConfigInterface,
                                                    &kDisplayInterfaceGuid, &Context->DisplayInterface,
                                                    kEndOfList);
    if (EFI_ERROR(Status)) return Status;
  }

  Rollback.Dismiss();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI QuovanDriverBindingStop(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                          UINTN NumberOfChildren, EFI_HANDLE* ChildHandleBuffer) {
  (void)NumberOfChildren;
  (void)ChildHandleBuffer;
  EFI_UGA_DRAW_PROTOCOL* UgaDraw = nullptr;
  EFI_STATUS Status =
      gBS->OpenProtocol(ControllerHandle, &kEfiUgaDrawProtocolGuid, reinterpret_cast<VOID**>(&UgaDraw),
                        This->DriverBindingHandle, ControllerHandle, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (EFI_ERROR(Status)) return Status;

  ADAPTER_CONTEXT* Context = ContextFromUgaDraw(UgaDraw, kModuleName, kStopSignatureLine);
  if (Context == nullptr) return EFI_INVALID_PARAMETER;
  return StopAdapter(Context);
}

EFI_STATUS StopAdapter(ADAPTER_CONTEXT* Context) {
  EFI_HANDLE Controller = Context->ControllerHandle;

  // Absent on platforms without the platform services protocol.
  gBS->UninstallProtocolInterface(Controller, &kConfigInterfaceGuid, &Context->ConfigInterface);
  gBS->UninstallProtocolInterface(Controller, &kDisplayInterfaceGuid, &Context->DisplayInterface);

  if (EFI_ERROR(gBS->UninstallProtocolInterface(Controller, &kEfiUgaDrawProtocolGuid, &Context->UgaDraw))) {
    return EFI_NOT_STARTED;
  }

  // The switch-off waits on the timer event, so the event outlives it.
  ShutDownOutputs(Context);
  gBS->CloseEvent(Context->TimerEvent);
  Context->TimerEvent = nullptr;

  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;
  UINT16 Command = 0;
  EFI_STATUS Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint16, kPciCommandOffset, 1, &Command);
  if (EFI_ERROR(Status)) return EFI_DEVICE_ERROR;
  Command = static_cast<UINT16>(Command & ~kPciCommandDecodeBits);
  Status = PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, kPciCommandOffset, 1, &Command);
  if (EFI_ERROR(Status)) return EFI_DEVICE_ERROR;

  gBS->CloseProtocol(Controller, &kEfiPciIoProtocolGuid, gQuovanDriverBinding.DriverBindingHandle, Controller);
  gBS->FreePool(Context);
  return Status;
}
