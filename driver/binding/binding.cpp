// Driver entry and Driver Binding: Supported, Start and Stop for the
// KT270 controllers. Start takes the controller over and publishes UGA Draw
// (and, on platforms that have them, the two platform interfaces); bringing
// the display engine up waits for the first SetMode.
#include "driver/binding/binding.h"

#include "driver/binding/component_name.h"
#include "driver/binding/interfaces.h"
#include "driver/core/devices.h"
#include "driver/core/version.h"
#include "driver/engine/outputs.h"
#include "driver/hw/properties.h"
#include "driver/hw/regmap/pci_config.h"
#include "driver/lib/driverlib.h"
#include "driver/platform/adapter.h"
#include "driver/platform/callbacks.h"
#include "driver/platform/nodes.h"
#include "driver/uga/gop.h"
#include "driver/uga/uga_draw.h"

EFI_DRIVER_BINDING_PROTOCOL gQuovanDriverBinding = {
    QuovanDriverBindingSupported, QuovanDriverBindingStart, QuovanDriverBindingStop, 0, nullptr, nullptr,
};

namespace {

const CHAR8 kModuleName[] = "quovan_1_1";
const UINT32 kStopSignatureLine = 546;


// Releases what only a freed context no longer needs. A firmware that
// refuses to close or free is told about, not obeyed: nothing else can be
// done with the record.
void FreeContext(ADAPTER_CONTEXT* Context) {
  if (Context->TimerEvent != nullptr && EFI_ERROR(gBS->CloseEvent(Context->TimerEvent))) {
    DebugOut(DEBUG_ERROR, "StopAdapter: CloseEvent refused\n");
  }
  Context->TimerEvent = nullptr;
  // A stale interface pointer must not pass the signature check.
  Context->Signature = 0;
#if QUOVAN_GOP
  ReleaseGraphicsOutput(Context);
#endif
  if (EFI_ERROR(gBS->FreePool(Context))) DebugOut(DEBUG_ERROR, "StopAdapter: FreePool refused\n");
}

void SetInterfaceFunctions(ADAPTER_CONTEXT* Context) {
  Context->UgaDraw.GetMode = UgaDrawGetMode;
  Context->UgaDraw.SetMode = UgaDrawSetMode;
  Context->UgaDraw.Blt = UgaDrawBlt;
  Context->ConfigInterface.Query = ConfigQuery;
  Context->DisplayInterface.Reserved = 0;
  Context->DisplayInterface.SetInfo = DisplaySetInfo;
  Context->DisplayInterface.GetInfo = DisplayGetInfo;
  Context->ReleaseAdapter = StopAdapter;
#if QUOVAN_GOP
  Context->ModesChanged = SyncGraphicsOutput;
  InitializeGraphicsOutput(Context);
#endif
}

// Undoes a partial Start, newest acquisition first, unless dismissed. The
// flags say what has been acquired so far.
class StartRollback {
 public:
  StartRollback(EFI_HANDLE Controller, EFI_HANDLE Agent) : Controller_(Controller), Agent_(Agent) {}
  StartRollback(const StartRollback&) = delete;
  StartRollback& operator=(const StartRollback&) = delete;

  ~StartRollback() {
    if (Dismissed_) return;
    if (Context != nullptr) {
      // The interfaces point into the context: while they stay on the
      // controller the adapter stays as started (PCI I/O held), for Stop.
      if (EFI_ERROR(UninstallInterfaces(Context))) {
        DebugOut(DEBUG_ERROR, "Start: an interface could not be uninstalled; the adapter is kept for Stop\n");
        return;
      }
      // Graphics Output's Start lights a display; nothing may stay lit
      // without a driver. Then the controller goes back as it was found,
      // as the driver model expects.
      if (Context->EngineStarted) ShutDownOutputs(Context);
      RestoreControllerAsFound(Context);
    }
    if (PciIoOpen) gBS->CloseProtocol(Controller_, &kEfiPciIoProtocolGuid, Agent_, Controller_);
    if (DevicePathOpen) gBS->CloseProtocol(Controller_, &kEfiDevicePathProtocolGuid, Agent_, Controller_);
    if (Context != nullptr) FreeContext(Context);
  }

  void Dismiss() { Dismissed_ = true; }

  BOOLEAN DevicePathOpen = EFI_FALSE;
  BOOLEAN PciIoOpen = EFI_FALSE;
  ADAPTER_CONTEXT* Context = nullptr;

 private:
  EFI_HANDLE Controller_;
  EFI_HANDLE Agent_;
  BOOLEAN Dismissed_ = EFI_FALSE;
};

}  // namespace

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gQuovanDriverBinding.Version = static_cast<UINT32>(QUOVAN_DRIVER_VERSION);
  EFI_STATUS Status = InstallDriverProtocols(ImageHandle, SystemTable, &gQuovanDriverBinding, ImageHandle,
                                             &gQuovanComponentName, nullptr, nullptr);
#if QUOVAN_GOP
  // UEFI firmware and tools ask for Component Name 2 first.
  if (!EFI_ERROR(Status)) {
    EFI_HANDLE Handle = gQuovanDriverBinding.DriverBindingHandle;
    Status = gBS->InstallProtocolInterface(&Handle, &kEfiComponentName2ProtocolGuid, EFI_NATIVE_INTERFACE,
                                           &gQuovanComponentName2);
  }
#endif
  if (EFI_ERROR(Status) && gBS != nullptr) {
    // The firmware unloads an image whose entry point fails: nothing may
    // stay installed that points into it. What was never installed is
    // simply not found.
    EFI_HANDLE Handle = gQuovanDriverBinding.DriverBindingHandle;
    if (Handle != nullptr) {
#if QUOVAN_GOP
      gBS->UninstallProtocolInterface(Handle, &kEfiComponentName2ProtocolGuid, &gQuovanComponentName2);
#endif
      gBS->UninstallProtocolInterface(Handle, &kEfiComponentNameProtocolGuid, &gQuovanComponentName);
      gBS->UninstallProtocolInterface(Handle, &kEfiDriverBindingProtocolGuid, &gQuovanDriverBinding);
    }
  }
  return Status;
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

  // Supported must leave nothing opened; if the firmware will not close,
  // the controller is not offered to Start either.
  EFI_STATUS CloseStatus =
      gBS->CloseProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, This->DriverBindingHandle, ControllerHandle);
  if (EFI_ERROR(CloseStatus)) {
    DebugOut(DEBUG_ERROR, "Supported: CloseProtocol refused\n");
    return CloseStatus;
  }
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

  // The device path is only borrowed: it keys the device properties. Left
  // open it would outlive Stop, so a refused close fails Start (and the
  // rollback tries it once more).
  Status = gBS->CloseProtocol(ControllerHandle, &kEfiDevicePathProtocolGuid, Agent, ControllerHandle);
  if (EFI_ERROR(Status)) return Status;
  Rollback.DevicePathOpen = EFI_FALSE;
  Context->ParentDevicePath = DevicePath;

  if (HasPlatformServices) {
    Status = NameDisplayNodes(Context);
    if (EFI_ERROR(Status)) return Status;
  }

  Status = InitializeAdapter(Context);
  if (EFI_ERROR(Status)) return Status;
  SetInterfaceFunctions(Context);
  Context->FastStartup = FastStartupChosen();

  const SUPPORTED_DEVICE_ROW* Row = nullptr;
  Status = FindDeviceRow(Context->DeviceId, &Row);
  if (EFI_ERROR(Status)) return Status;
  Context->ControllerNameTable[0] = Row->Names[0];

  if (HasPlatformServices) RegisterAdapter(Context);

  // The display's faces in one call, all or none: UGA Draw, Graphics
  // Output and the EDID protocols. Graphics Output is complete and true from
  // the moment it exists: the displays are found and mode 0 is lit first.
  // The platform interfaces point into the context, so they go on only
  // beside them.
#if QUOVAN_GOP
  Status = PrepareGraphicsOutput(Context);
  if (EFI_ERROR(Status)) return Status;
#endif
  Status = InstallInterfaceGroup(Context, INTERFACE_GROUP_DISPLAY);
  if (EFI_ERROR(Status)) return Status;
  if (HasPlatformServices) {
    Status = InstallInterfaceGroup(Context, INTERFACE_GROUP_PLATFORM);
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
  EFI_PCI_IO_PROTOCOL* PciIo = Context->PciIo;

  const UINT8 Installed = Context->InstalledInterfaces;
  if (EFI_ERROR(UninstallInterfaces(Context))) return EFI_NOT_STARTED;

  // The switch-off waits on the timer event, so the event outlives it. The
  // accesses keep the order the board was brought up with; whatever fails
  // from here on is undone below, the displays lit again.
  ShutDownOutputs(Context);

  UINT16 Command = 0;
  EFI_STATUS Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Command);
  UINT16 Cleared = static_cast<UINT16>(Command & ~PCI_COMMAND_DECODE);
  if (!EFI_ERROR(Status)) Status = PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Cleared);
  if (EFI_ERROR(Status)) {
    Status = EFI_DEVICE_ERROR;
  } else {
    Status = gBS->CloseProtocol(Controller, &kEfiPciIoProtocolGuid, gQuovanDriverBinding.DriverBindingHandle,
                                Controller);
    if (!EFI_ERROR(Status)) {
      FreeContext(Context);
      return EFI_SUCCESS;
    }
    // Still held: decoding goes back on for the adapter that stays.
    PciIo->Pci.Write(PciIo, EfiPciIoWidthUint16, PCI_COMMAND, 1, &Command);
  }
  // Undone: the displays lit again and the interfaces put back, or no
  // Stop could ever find the adapter again.
  RelightDisplays(Context);
  ReinstallInterfaces(Context, Installed);
  return Status;
}
