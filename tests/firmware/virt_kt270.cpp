// KtVirt.efi: a test-only boot-service driver for OVMF that puts the adapter
// model behind a controller: a PCI-style device path and a PCI I/O protocol
// whose configuration space, BAR 0 (frame buffer) and BAR 2 (registers) are
// the model's. It also provides the platform's property database and
// platform services as recording stand-ins, present or not as the check
// application asks.
#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"
#include "sim/platform/platform_core.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/kt_virt.h"

namespace {

EFI_BOOT_SERVICES* gBS;

#pragma pack(push, 1)
struct VirtDevicePath {
  ACPI_HID_DEVICE_PATH Root;
  PCI_DEVICE_PATH Pci;
  EFI_DEVICE_PATH_PROTOCOL End;
};
#pragma pack(pop)

// Its own PciRoot (UID 0x4B), so the path cannot collide with a real one.
constexpr VirtDevicePath kDevicePath = {
    {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, 0x0A0341D0 /* PNP0A03 */, 0x4B},
    {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {sizeof(PCI_DEVICE_PATH), 0}}, 0x00, 0x00},
    {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}},
};

struct VirtDevice {
  EFI_PCI_IO_PROTOCOL PciIo;
  KT_VIRT_PROTOCOL Test;
  simplatform::Sink Sink;
  simplatform::PropertyDatabase Database;
  simplatform::PlatformServices Services;
  EFI_HANDLE PlatformHandle;
  bool DatabaseInstalled, ServicesInstalled;
};
static_assert(offsetof(VirtDevice, PciIo) == 0, "PCI I/O first: the stand-in's \"this\"");
VirtDevice gDevice;

VirtDevice* DeviceOf(EFI_PCI_IO_PROTOCOL* This) { return reinterpret_cast<VirtDevice*>(This); }
VirtDevice* DeviceOf(KT_VIRT_PROTOCOL* This) {
  return reinterpret_cast<VirtDevice*>(reinterpret_cast<UINT8*>(This) - offsetof(VirtDevice, Test));
}

// ---- model environment: pool memory, TSC time --------------------------------
void* ModelAlloc(void*, size_t size) {
  VOID* p = nullptr;
  return EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, size, &p)) ? nullptr : p;
}
void ModelFree(void*, void* block) {
  if (block) gBS->FreePool(block);
}
uint64_t ModelNowUs(void* ctx) {
  auto* d = static_cast<VirtDevice*>(ctx);
  return debugcon::ReadTsc() / d->Test.TscPerUs;
}

// ---- PCI I/O ---------------------------------------------------------------------
struct Width {
  unsigned size;
  kt270::Stride stride;
};
bool DecodeWidth(EFI_PCI_IO_PROTOCOL_WIDTH w, Width* out) {
  if ((UINT32)w >= EfiPciIoWidthMaximum) return false;
  out->size = 1u << (w & 3);
  out->stride = w >= EfiPciIoWidthFillUint8 ? kt270::Stride::kFill
                : w >= EfiPciIoWidthFifoUint8 ? kt270::Stride::kFifo
                                              : kt270::Stride::kNormal;
  return true;
}

EFI_STATUS MemAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset, UINTN Count,
                     VOID* Buffer, bool write) {
  VirtDevice* d = DeviceOf(This);
  Width w;
  if (!Buffer || !DecodeWidth(W, &w) || (Bar != 0 && Bar != 2) || Count == 0) {
    d->Test.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;
  }
  kt270::Adapter* a = d->Test.Adapter;
  bool ok = write ? a->MemWrite(Bar, Offset, w.size, Count, w.stride, Buffer)
                  : a->MemRead(Bar, Offset, w.size, Count, w.stride, Buffer);
  if (!ok) {
    d->Test.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;  // as the PCI bus driver answers outside a BAR
  }
  if (write) {
    d->Test.MemWrites[Bar]++;
    d->Test.LastWriteTsc = debugcon::ReadTsc();
  } else {
    d->Test.MemReads[Bar]++;
  }
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset,
                          UINTN Count, VOID* Buffer) {
  return MemAccess(This, W, Bar, Offset, Count, Buffer, false);
}
EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset,
                           UINTN Count, VOID* Buffer) {
  return MemAccess(This, W, Bar, Offset, Count, Buffer, true);
}

// 64-bit and misaligned configuration accesses are refused as the PCI bus
// driver refuses them.
EFI_STATUS ConfigAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT32 Offset, UINTN Count,
                        VOID* Buffer, bool write) {
  VirtDevice* d = DeviceOf(This);
  Width w;
  if (!Buffer || !DecodeWidth(W, &w) || w.size == 8 || Count == 0) {
    d->Test.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;
  }
  if (Offset % w.size != 0) {
    d->Test.RefusedAccesses++;
    return EFI_UNSUPPORTED;
  }
  kt270::Adapter* a = d->Test.Adapter;
  // The model takes normal strides only; FIFO and fill are element loops.
  bool ok = true;
  UINT8* bytes = static_cast<UINT8*>(Buffer);
  if (w.stride == kt270::Stride::kNormal) {
    ok = write ? a->ConfigWrite(Offset, w.size, Count, Buffer) : a->ConfigRead(Offset, w.size, Count, Buffer);
  } else {
    for (UINTN i = 0; i < Count && ok; ++i) {
      UINT32 at = w.stride == kt270::Stride::kFifo ? Offset : Offset + (UINT32)(i * w.size);
      UINT8* el = w.stride == kt270::Stride::kFill ? bytes : bytes + i * w.size;
      ok = write ? a->ConfigWrite(at, w.size, 1, el) : a->ConfigRead(at, w.size, 1, el);
    }
  }
  if (!ok) {
    d->Test.RefusedAccesses++;
    return EFI_UNSUPPORTED;
  }
  if (write) d->Test.ConfigWrites++; else d->Test.ConfigReads++;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ConfigRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT32 Offset, UINTN Count,
                             VOID* Buffer) {
  return ConfigAccess(This, W, Offset, Count, Buffer, false);
}
EFI_STATUS EFIAPI ConfigWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT32 Offset, UINTN Count,
                              VOID* Buffer) {
  return ConfigAccess(This, W, Offset, Count, Buffer, true);
}

EFI_STATUS EFIAPI PollUnsupported(EFI_PCI_IO_PROTOCOL*, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64, UINT64,
                                  UINT64, UINT64*) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI IoUnsupported(EFI_PCI_IO_PROTOCOL*, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN, VOID*) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI CopyMemUnsupported(EFI_PCI_IO_PROTOCOL*, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT8, UINT64,
                                     UINTN) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI MapUnsupported(EFI_PCI_IO_PROTOCOL*, EFI_PCI_IO_PROTOCOL_OPERATION, VOID*, UINTN*,
                                 EFI_PHYSICAL_ADDRESS*, VOID**) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnmapUnsupported(EFI_PCI_IO_PROTOCOL*, VOID*) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI AllocateBufferUnsupported(EFI_PCI_IO_PROTOCOL*, EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN, VOID**,
                                            UINT64) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI FreeBufferUnsupported(EFI_PCI_IO_PROTOCOL*, UINTN, VOID*) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI FlushUnsupported(EFI_PCI_IO_PROTOCOL*) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI GetLocationUnsupported(EFI_PCI_IO_PROTOCOL*, UINTN*, UINTN*, UINTN*, UINTN*) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI GetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL*, UINT8, UINT64*, VOID**) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL*, UINT64, UINT8, UINT64*, UINT64*) {
  return EFI_UNSUPPORTED;
}

// Attributes: I/O, memory and bus master land in the model's command
// register, as the PCI bus driver would write them.
constexpr UINT64 kSupportedAttributes = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY |
                                        EFI_PCI_IO_ATTRIBUTE_BUS_MASTER | EFI_PCI_IO_ATTRIBUTE_VGA_IO |
                                        EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO;
UINT16 CommandBits(UINT64 attributes) {
  return (UINT16)(((attributes & EFI_PCI_IO_ATTRIBUTE_IO) ? 1 : 0) | ((attributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) ? 2 : 0) |
                  ((attributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) ? 4 : 0));
}
EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Op, UINT64 Attrs,
                             UINT64* Result) {
  VirtDevice* d = DeviceOf(This);
  d->Test.AttributeCalls++;
  UINT16 command = d->Test.Adapter->Command();
  switch (Op) {
    case EfiPciIoAttributeOperationGet:
    case EfiPciIoAttributeOperationSupported:
      if (!Result) return EFI_INVALID_PARAMETER;
      *Result = Op == EfiPciIoAttributeOperationGet ? d->Test.EnabledAttributes : kSupportedAttributes;
      return EFI_SUCCESS;
    case EfiPciIoAttributeOperationSet:
      if (Attrs & ~kSupportedAttributes) return EFI_UNSUPPORTED;
      d->Test.EnabledAttributes = Attrs;
      command = (UINT16)((command & ~7) | CommandBits(Attrs));
      break;
    case EfiPciIoAttributeOperationEnable:
      if (Attrs & ~kSupportedAttributes) return EFI_UNSUPPORTED;
      d->Test.EnabledAttributes |= Attrs;
      command |= CommandBits(Attrs);
      break;
    case EfiPciIoAttributeOperationDisable:
      d->Test.EnabledAttributes &= ~Attrs;
      command = (UINT16)(command & ~CommandBits(Attrs));
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }
  d->Test.Adapter->ConfigWrite(0x04, 2, 1, &command);
  return EFI_SUCCESS;
}

// ---- platform stand-ins: recording sink ---------------------------------------
void CopyName(CHAR16* to, UINTN capacity, const CHAR16* from) {
  UINTN i = 0;
  for (; from && from[i] && i + 1 < capacity; ++i) to[i] = from[i];
  to[i] = 0;
}

void RecordProperty(void* ctx, const EFI_DEVICE_PATH_PROTOCOL*, const CHAR16* node, const CHAR16* name,
                    const void* value, uint64_t size) {
  auto* d = static_cast<VirtDevice*>(ctx);
  UINT32 n = d->Test.PropertyCount++;
  if (n >= kKtVirtMaxProperties) return;
  KT_VIRT_PROPERTY& p = d->Test.Properties[n];
  p.HasNode = node != nullptr;
  CopyName(p.Node, 8, node);
  CopyName(p.Name, 40, name);
  p.Size = size;
  const UINT8* v = static_cast<const UINT8*>(value);
  for (UINTN i = 0; i < kKtVirtValueBytes; ++i) p.Value[i] = v && i < size ? v[i] : 0;
}
void RecordRegister(void* ctx, uint16_t vendor, uint16_t device, EFI_HANDLE controller) {
  auto* d = static_cast<VirtDevice*>(ctx);
  d->Test.RegisterAdapterCalls++;
  d->Test.RegisteredVendor = vendor;
  d->Test.RegisteredDevice = device;
  d->Test.RegisteredController = controller;
}
bool SameGuid(const EFI_GUID& a, const EFI_GUID& b) {
  const UINT8* x = reinterpret_cast<const UINT8*>(&a);
  const UINT8* y = reinterpret_cast<const UINT8*>(&b);
  for (UINTN i = 0; i < sizeof(EFI_GUID); ++i)
    if (x[i] != y[i]) return false;
  return true;
}
bool AnswerValue(void* ctx, const EFI_GUID* key, uint64_t, uint32_t* value) {
  auto* d = static_cast<VirtDevice*>(ctx);
  d->Test.GetValueCalls++;
  for (UINT32 i = 0; i < d->Test.ValueCount && i < kKtVirtMaxValues; ++i) {
    if (SameGuid(*key, d->Test.ValueKeys[i])) {
      *value = d->Test.Values[i];
      return true;
    }
  }
  return false;
}
void RecordUnexpected(void* ctx, const char* protocol, unsigned member) {
  auto* d = static_cast<VirtDevice*>(ctx);
  d->Test.UnexpectedCalls++;
  debugcon::JsonLine("platform_unexpected").Str("protocol", protocol).Num("member", member).Emit();
}

EFI_STATUS Toggle(VirtDevice* d, bool want, bool* installed, const EFI_GUID* guid, VOID* iface) {
  if (want == *installed) return EFI_SUCCESS;
  EFI_STATUS s = want ? gBS->InstallProtocolInterface(&d->PlatformHandle, guid, EFI_NATIVE_INTERFACE, iface)
                      : gBS->UninstallProtocolInterface(d->PlatformHandle, guid, iface);
  if (!EFI_ERROR(s)) *installed = want;
  // The handle goes with its last protocol.
  if (!d->DatabaseInstalled && !d->ServicesInstalled) d->PlatformHandle = nullptr;
  return s;
}

EFI_STATUS EFIAPI SetPlatform(KT_VIRT_PROTOCOL* This, BOOLEAN Database, BOOLEAN Services) {
  VirtDevice* d = DeviceOf(This);
  EFI_STATUS s = Toggle(d, Database, &d->DatabaseInstalled, &kDevicePropertyDatabaseProtocolGuid,
                        &d->Database.protocol);
  if (EFI_ERROR(s)) return s;
  return Toggle(d, Services, &d->ServicesInstalled, &kPlatformServicesProtocolGuid, &d->Services.protocol);
}

void CalibrateTsc(VirtDevice* d) {
  UINT64 t0 = debugcon::ReadTsc();
  gBS->Stall(10000);
  UINT64 per = (debugcon::ReadTsc() - t0) / 10000;
  d->Test.TscPerUs = per ? per : 1;
}

}  // namespace

extern "C" EFI_STATUS EFIAPI VirtEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  (void)ImageHandle;
  gBS = SystemTable->BootServices;
  VirtDevice* d = &gDevice;
  d->PciIo = {PollUnsupported, PollUnsupported, {MemRead, MemWrite}, {IoUnsupported, IoUnsupported},
              {ConfigRead, ConfigWrite}, CopyMemUnsupported, MapUnsupported, UnmapUnsupported,
              AllocateBufferUnsupported, FreeBufferUnsupported, FlushUnsupported, GetLocationUnsupported,
              Attributes, GetBarAttributesUnsupported, SetBarAttributesUnsupported, 0, nullptr};
  d->Test.Revision = kKtVirtRevision;
  d->Test.SetPlatform = SetPlatform;
  CalibrateTsc(d);

  kt270::Env env = {d, ModelAlloc, ModelFree, ModelNowUs};
  d->Test.Adapter = kt270::Adapter::Create(env, kt270::DefaultConfig());
  if (!d->Test.Adapter) return EFI_OUT_OF_RESOURCES;

  d->Sink = {d, RecordProperty, RecordRegister, AnswerValue, RecordUnexpected};
  simplatform::InitPropertyDatabase(&d->Database, &d->Sink);
  simplatform::InitPlatformServices(&d->Services, &d->Sink);

  EFI_HANDLE controller = nullptr;
  EFI_STATUS s = gBS->InstallMultipleProtocolInterfaces(&controller, &kEfiDevicePathProtocolGuid, &kDevicePath,
                                                        &kEfiPciIoProtocolGuid, &d->PciIo, &kKtVirtProtocolGuid,
                                                        &d->Test, nullptr);
  if (EFI_ERROR(s)) {
    kt270::Adapter::Destroy(d->Test.Adapter);
    return s;
  }
  d->Test.Controller = controller;
  debugcon::JsonLine("virt").Str("event_of", "KtVirt").Num("tsc_mhz", d->Test.TscPerUs)
      .Num("fb_size", d->Test.Adapter->FrameBufferSize()).Emit();
  return EFI_SUCCESS;
}
