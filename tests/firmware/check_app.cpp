// KtCheck.efi: drives the driver under test through the real firmware's
// driver model and reports every step as a JSON line on the debug console.
//
//   KtCheck.efi            full check, then ResetSystem(EfiResetShutdown)
//   KtCheck.efi -noreset   full check, leaves the controller connected
//   KtCheck.efi -shutdown  only the shutdown
//
// The firmware calls the driver through the Driver Binding and UGA Draw
// tables; the check puts counting wrappers into those tables while it runs
// so that the log shows which entries the firmware used and what they
// returned. The wrappers are taken out again before the app exits.
#include "efi/efi.h"
#include "tests/firmware/app_support.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/kt_fake_pci.h"

using app::LOADED_IMAGE;
using app::Opens;
using app::OurDriver;
using debugcon::JsonLine;
using debugcon::ReadTsc;

namespace {

constexpr char16_t kControllerName[] = u"ZEL Quovan KT270 Video Adapter";

EFI_BOOT_SERVICES* gBS;
EFI_RUNTIME_SERVICES* gRT;
EFI_HANDLE gImage;
UINT64 gTscPerUs = 1;

UINT64 ElapsedUs(UINT64 since) { return (ReadTsc() - since) / gTscPerUs; }
UINT64 UptimeMs() { return ReadTsc() / gTscPerUs / 1000; }

// ---- Driver Binding spy ----------------------------------------------------
struct BindingSpy {
  EFI_DRIVER_BINDING_PROTOCOL* binding;
  EFI_DRIVER_BINDING_SUPPORTED supported;
  EFI_DRIVER_BINDING_START start;
  EFI_DRIVER_BINDING_STOP stop;
  EFI_HANDLE controller;
  UINT32 supportedCalls, startCalls, stopCalls, supportedElsewhere, startedElsewhere;
  EFI_STATUS supportedStatus, startStatus, stopStatus;
};
BindingSpy gSpy;

EFI_STATUS EFIAPI SpySupported(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE Controller,
                               EFI_DEVICE_PATH_PROTOCOL* Remaining) {
  EFI_STATUS s = gSpy.supported(This, Controller, Remaining);
  if (Controller == gSpy.controller) {
    gSpy.supportedCalls++;
    gSpy.supportedStatus = s;
  } else {
    gSpy.supportedElsewhere++;
  }
  return s;
}
EFI_STATUS EFIAPI SpyStart(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE Controller,
                           EFI_DEVICE_PATH_PROTOCOL* Remaining) {
  EFI_STATUS s = gSpy.start(This, Controller, Remaining);
  if (Controller == gSpy.controller) {
    gSpy.startCalls++;
    gSpy.startStatus = s;
  } else {
    gSpy.startedElsewhere++;
  }
  return s;
}
EFI_STATUS EFIAPI SpyStop(EFI_DRIVER_BINDING_PROTOCOL* This, EFI_HANDLE Controller, UINTN Children,
                          EFI_HANDLE* ChildBuffer) {
  EFI_STATUS s = gSpy.stop(This, Controller, Children, ChildBuffer);
  if (Controller == gSpy.controller) {
    gSpy.stopCalls++;
    gSpy.stopStatus = s;
  }
  return s;
}

void InstallBindingSpy(EFI_DRIVER_BINDING_PROTOCOL* b, EFI_HANDLE controller) {
  gSpy.binding = b;
  gSpy.supported = b->Supported;
  gSpy.start = b->Start;
  gSpy.stop = b->Stop;
  gSpy.controller = controller;
  b->Supported = SpySupported;
  b->Start = SpyStart;
  b->Stop = SpyStop;
}
void RemoveBindingSpy() {
  if (!gSpy.binding) return;
  gSpy.binding->Supported = gSpy.supported;
  gSpy.binding->Start = gSpy.start;
  gSpy.binding->Stop = gSpy.stop;
  gSpy.binding = nullptr;
}
void ResetBindingCounts() {
  gSpy.supportedCalls = gSpy.startCalls = gSpy.stopCalls = gSpy.supportedElsewhere = gSpy.startedElsewhere = 0;
  gSpy.supportedStatus = gSpy.startStatus = gSpy.stopStatus = EFI_NOT_STARTED;
}

// ---- UGA Draw spy ------------------------------------------------------------
// Protocol notification on UGA Draw: runs at TPL_CALLBACK when the driver's
// install returns, before ConnectController moves on to other drivers (the
// firmware's Graphics Console binds to UGA Draw in the same connect). So it
// sees the freshly started mode and wraps SetMode/Blt before anyone calls them.
struct Mode {
  UINT32 h, v, depth, refresh;
  EFI_STATUS status;
};
struct UgaSpy {
  VOID* registration;
  EFI_UGA_DRAW_PROTOCOL* instance;  // the wrapped one, while it is installed
  EFI_UGA_DRAW_PROTOCOL_SET_MODE setMode;
  EFI_UGA_DRAW_PROTOCOL_BLT blt;
  UINT32 installs;
  Mode atInstall;
  UINT32 setModeCalls, bltCalls, bltFailed;
  Mode lastSetMode;
  UINT64 setModeUs;
};
UgaSpy gUga;

EFI_STATUS EFIAPI SpySetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 h, UINT32 v, UINT32 depth, UINT32 refresh) {
  UINT64 t0 = ReadTsc();
  EFI_STATUS s = gUga.setMode(This, h, v, depth, refresh);
  gUga.setModeUs += ElapsedUs(t0);
  gUga.setModeCalls++;
  gUga.lastSetMode = {h, v, depth, refresh, s};
  return s;
}
EFI_STATUS EFIAPI SpyBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* Buffer, EFI_UGA_BLT_OPERATION Op, UINTN SX,
                         UINTN SY, UINTN DX, UINTN DY, UINTN W, UINTN H, UINTN Delta) {
  EFI_STATUS s = gUga.blt(This, Buffer, Op, SX, SY, DX, DY, W, H, Delta);
  gUga.bltCalls++;
  if (EFI_ERROR(s)) gUga.bltFailed++;
  return s;
}

Mode GetMode(EFI_UGA_DRAW_PROTOCOL* uga) {
  Mode m = {0, 0, 0, 0, EFI_NOT_FOUND};
  if (uga) m.status = uga->GetMode(uga, &m.h, &m.v, &m.depth, &m.refresh);
  return m;
}

void EFIAPI OnUgaInstalled(EFI_EVENT, VOID*) {
  for (;;) {
    EFI_HANDLE handle;
    UINTN size = sizeof handle;
    if (EFI_ERROR(gBS->LocateHandle(ByRegisterNotify, nullptr, gUga.registration, &size, &handle))) return;
    if (handle != gSpy.controller) continue;
    VOID* iface;
    if (EFI_ERROR(gBS->HandleProtocol(handle, &kEfiUgaDrawProtocolGuid, &iface))) continue;
    auto* uga = static_cast<EFI_UGA_DRAW_PROTOCOL*>(iface);
    gUga.installs++;
    gUga.atInstall = GetMode(uga);
    gUga.instance = uga;
    gUga.setMode = uga->SetMode;
    gUga.blt = uga->Blt;
    uga->SetMode = SpySetMode;
    uga->Blt = SpyBlt;
  }
}

void ResetUgaCounts() {
  gUga.setModeCalls = gUga.bltCalls = gUga.bltFailed = 0;
  gUga.setModeUs = 0;
  gUga.lastSetMode = {0, 0, 0, 0, EFI_NOT_STARTED};
  gUga.atInstall = {0, 0, 0, 0, EFI_NOT_STARTED};
}

// Only the instance still installed is unwrapped: a stopped driver has freed
// the memory of the one before.
void RemoveUgaSpy(EFI_HANDLE controller) {
  VOID* iface;
  if (gUga.instance && !EFI_ERROR(gBS->HandleProtocol(controller, &kEfiUgaDrawProtocolGuid, &iface)) &&
      iface == gUga.instance) {
    gUga.instance->SetMode = gUga.setMode;
    gUga.instance->Blt = gUga.blt;
  }
  gUga.instance = nullptr;
}

// ---- Helpers -------------------------------------------------------------------
JsonLine& ModeMember(JsonLine& line, const char* key, const Mode& m) {
  return line.Mode(key, m.h, m.v, m.depth, m.refresh);
}

EFI_UGA_DRAW_PROTOCOL* FindUga(EFI_HANDLE controller) {
  VOID* iface = nullptr;
  EFI_STATUS s =
      gBS->OpenProtocol(controller, &kEfiUgaDrawProtocolGuid, &iface, gImage, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  return EFI_ERROR(s) ? nullptr : static_cast<EFI_UGA_DRAW_PROTOCOL*>(iface);
}

Opens CountOpens(EFI_HANDLE controller, const EFI_GUID* protocol, EFI_HANDLE agent, JsonLine* names) {
  return app::CountOpens(gBS, gImage, controller, protocol, agent, names);
}

struct FakeDevice {
  EFI_HANDLE handle;
  KT_FAKE_PCI_PROTOCOL* test;
  UINTN count;
};
FakeDevice FindFakeDevice() {
  FakeDevice d = {nullptr, nullptr, 0};
  EFI_HANDLE* handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &kKtFakePciProtocolGuid, nullptr, &d.count, &handles))) return d;
  VOID* iface;
  if (d.count >= 1 && !EFI_ERROR(gBS->HandleProtocol(handles[0], &kKtFakePciProtocolGuid, &iface))) {
    d.handle = handles[0];
    d.test = static_cast<KT_FAKE_PCI_PROTOCOL*>(iface);
  }
  gBS->FreePool(handles);
  return d;
}

UINT16 CommandRegister(const FakeDevice& dev) {
  return (UINT16)(dev.test->ConfigSpace[4] | dev.test->ConfigSpace[5] << 8);
}

void ReportDevice(const FakeDevice& dev, const char* when) {
  const KT_FAKE_PCI_COUNTERS& c = dev.test->Counters;
  JsonLine("device")
      .Str("when", when)
      .Hex("command", CommandRegister(dev))
      .Hex("attributes", dev.test->EnabledAttributes)
      .Num("config_reads", c.ConfigReads)
      .Num("config_writes", c.ConfigWrites)
      .Num("command_writes", c.CommandWrites)
      .Num("bar0_reads", c.MemReads[0])
      .Num("bar0_writes", c.MemWrites[0])
      .Num("bar2_reads", c.MemReads[2])
      .Num("bar2_writes", c.MemWrites[2])
      .Num("attribute_calls", c.AttributeCalls)
      .Num("unsupported_calls", c.UnsupportedCalls)
      .Num("refused_accesses", c.RefusedAccesses)
      .Emit();
}

// One ConnectController round and what it left on the controller.
bool ConnectRound(unsigned round, const FakeDevice& dev, const OurDriver& drv) {
  ResetBindingCounts();
  ResetUgaCounts();
  UINT32 installsBefore = gUga.installs;
  UINT64 t0 = ReadTsc();
  EFI_STATUS s = gBS->ConnectController(dev.handle, nullptr, nullptr, EFI_FALSE);
  UINT64 us = ElapsedUs(t0);
  EFI_UGA_DRAW_PROTOCOL* uga = FindUga(dev.handle);
  JsonLine("connect")
      .Num("round", round)
      .Hex("status", s)
      .Num("us", us)
      .Num("supported_calls", gSpy.supportedCalls)
      .Hex("supported_status", gSpy.supportedStatus)
      .Num("start_calls", gSpy.startCalls)
      .Hex("start_status", gSpy.startStatus)
      .Num("supported_elsewhere", gSpy.supportedElsewhere)
      .Num("started_elsewhere", gSpy.startedElsewhere)
      .Emit();

  Mode after = GetMode(uga);
  JsonLine line("uga");
  line.Num("round", round)
      .Bool("present", uga != nullptr)
      .Bool("notified", gUga.installs > installsBefore);
  ModeMember(line, "at_install", gUga.atInstall).Hex("at_install_status", gUga.atInstall.status);
  ModeMember(line, "after_connect", after).Hex("after_connect_status", after.status);
  line.Num("setmode_calls", gUga.setModeCalls);
  ModeMember(line, "last_setmode", gUga.lastSetMode).Hex("last_setmode_status", gUga.lastSetMode.status);
  line.Num("setmode_us", gUga.setModeUs).Num("blt_calls", gUga.bltCalls).Num("blt_failed", gUga.bltFailed);
  line.Key("consumers").Raw("[");
  Opens ugaOpens = CountOpens(dev.handle, &kEfiUgaDrawProtocolGuid, nullptr, &line);
  line.Raw("]").Num("consumer_count", ugaOpens.byDriver).Emit();

  Opens pci = CountOpens(dev.handle, &kEfiPciIoProtocolGuid, drv.binding->DriverBindingHandle, nullptr);
  JsonLine("opens")
      .Str("when", "connected")
      .Num("round", round)
      .Num("pci_io_by_driver", pci.byDriver)
      .Num("pci_io_by_our_driver", pci.byAgent)
      .Emit();
  ReportDevice(dev, "connected");
  return !EFI_ERROR(s) && uga;
}

EFI_STATUS Shutdown() {
  JsonLine("shutdown").Num("uptime_ms", UptimeMs()).Emit();
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_DEVICE_ERROR;  // not reached when the firmware powers off
}

EFI_STATUS RunChecks(const FakeDevice& dev, const OurDriver& drv) {
  // Component Name as the firmware's user interface asks for it.
  CHAR16* controllerName = nullptr;
  EFI_STATUS cs = drv.name->GetControllerName(drv.name, dev.handle, nullptr, "eng", &controllerName);
  CHAR16* otherName = nullptr;
  EFI_STATUS bad = drv.name->GetDriverName(drv.name, "enx", &otherName);
  JsonLine("component_name")
      .Str16("driver_name", drv.driverName)
      .Str("languages", drv.name->SupportedLanguages)
      .Str16("controller_name", EFI_ERROR(cs) ? nullptr : controllerName)
      .Hex("controller_status", cs)
      .Bool("controller_name_ok", !EFI_ERROR(cs) && app::SameString16(controllerName, kControllerName))
      .Hex("bad_language_status", bad)
      .Emit();

  // Disconnect our driver only: the firmware takes UGA Draw's consumers
  // (the Graphics Console) off as our Stop uninstalls it.
  ResetBindingCounts();
  UINT64 t0 = ReadTsc();
  EFI_STATUS ds = gBS->DisconnectController(dev.handle, drv.binding->DriverBindingHandle, nullptr);
  UINT64 us = ElapsedUs(t0);
  EFI_UGA_DRAW_PROTOCOL* uga = FindUga(dev.handle);
  if (!uga) gUga.instance = nullptr;
  Opens pci = CountOpens(dev.handle, &kEfiPciIoProtocolGuid, drv.binding->DriverBindingHandle, nullptr);
  Opens path = CountOpens(dev.handle, &kEfiDevicePathProtocolGuid, drv.binding->DriverBindingHandle, nullptr);
  controllerName = nullptr;
  cs = drv.name->GetControllerName(drv.name, dev.handle, nullptr, "eng", &controllerName);
  Opens pciAfterName = CountOpens(dev.handle, &kEfiPciIoProtocolGuid, drv.binding->DriverBindingHandle, nullptr);
  JsonLine("disconnect")
      .Hex("status", ds)
      .Num("us", us)
      .Num("stop_calls", gSpy.stopCalls)
      .Hex("stop_status", gSpy.stopStatus)
      .Bool("uga_present", uga != nullptr)
      .Num("pci_io_opens_left", pci.byAgent)
      .Num("device_path_opens_left", path.byAgent)
      .Hex("command", CommandRegister(dev))
      .Hex("controller_name_status", cs)
      .Num("pci_io_opens_after_name", pciAfterName.byAgent)
      .Emit();
  ReportDevice(dev, "disconnected");

  bool again = ConnectRound(2, dev, drv);
  return again ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI CheckEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  gImage = ImageHandle;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gTscPerUs = app::MeasureTscPerUs(gBS);  // all times below are TSC based

  VOID* iface = nullptr;
  const LOADED_IMAGE* self = nullptr;
  if (!EFI_ERROR(gBS->HandleProtocol(ImageHandle, &kEfiLoadedImageProtocolGuid, &iface)))
    self = static_cast<const LOADED_IMAGE*>(iface);
  bool noReset = app::HasArgument(self, "-noreset");
  bool onlyShutdown = app::HasArgument(self, "-shutdown");
  JsonLine("begin")
      .Str("app", "KtCheck")
      .Str("mode", onlyShutdown ? "shutdown" : noReset ? "noreset" : "full")
      .Num("tsc_mhz", gTscPerUs)
      .Num("uptime_ms", UptimeMs())
      .Emit();
  if (onlyShutdown) return Shutdown();

  FakeDevice dev = FindFakeDevice();
  OurDriver drv = app::FindOurDriver(gBS, gImage);
  JsonLine("controller")
      .Num("count", dev.count)
      .Bool("found", dev.handle != nullptr)
      .Bool("uga_before", dev.handle && FindUga(dev.handle))
      .Emit();
  JsonLine("driver")
      .Bool("found", drv.binding != nullptr)
      .Num("driver_bindings", drv.bindings)
      .Str16("name", drv.driverName)
      .Hex("version", drv.binding ? drv.binding->Version : 0)
      .Bool("binding_on_image", drv.binding && drv.binding->ImageHandle == drv.binding->DriverBindingHandle)
      .Emit();

  EFI_STATUS result = EFI_NOT_FOUND;
  EFI_EVENT notify = nullptr;
  if (dev.handle && drv.binding) {
    InstallBindingSpy(drv.binding, dev.handle);
    if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnUgaInstalled, nullptr, &notify)))
      gBS->RegisterProtocolNotify(&kEfiUgaDrawProtocolGuid, notify, &gUga.registration);
    result = ConnectRound(1, dev, drv) ? RunChecks(dev, drv) : EFI_DEVICE_ERROR;
    RemoveUgaSpy(dev.handle);
    RemoveBindingSpy();
    if (notify) gBS->CloseEvent(notify);
  }
  JsonLine("done").Hex("status", result).Num("uptime_ms", UptimeMs()).Emit();
  return noReset ? result : Shutdown();
}
