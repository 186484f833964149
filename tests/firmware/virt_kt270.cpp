// KtVirt.efi: a test-only boot-service driver for OVMF that puts the adapter
// model behind a controller: a PCI-style device path and a PCI I/O protocol
// whose configuration space, BAR 0 (frame buffer) and BAR 2 (registers) are
// the model's, with the frame buffer at the physical address BAR 0 reports.
// It also provides the platform's property database and platform services
// as recording stand-ins, present or not as the check application asks.
#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"
#include "sim/platform/platform_core.h"
#include "tests/firmware/debugcon.h"
#include "tests/firmware/kt_virt.h"
#include "tests/firmware/pci_stand_in.h"

namespace {

EFI_BOOT_SERVICES* gBS;

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
using ktpci::Access;

kt270::Stride StrideOf(const Access& a) {
  return !a.stepBuffer ? kt270::Stride::kFill : !a.stepAddress ? kt270::Stride::kFifo : kt270::Stride::kNormal;
}

EFI_STATUS MemAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT8 Bar, UINT64 Offset, UINTN Count,
                     VOID* Buffer, bool write) {
  VirtDevice* d = DeviceOf(This);
  Access w;
  if (!Buffer || !ktpci::DecodeWidth(W, &w) || (Bar != 0 && Bar != 2) || Count == 0) {
    d->Test.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;
  }
  kt270::Adapter* a = d->Test.Adapter;
  unsigned size = (unsigned)w.size;
  bool ok = write ? a->MemWrite(Bar, Offset, size, Count, StrideOf(w), Buffer)
                  : a->MemRead(Bar, Offset, size, Count, StrideOf(w), Buffer);
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

EFI_STATUS ConfigAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH W, UINT32 Offset, UINTN Count,
                        VOID* Buffer, bool write) {
  VirtDevice* d = DeviceOf(This);
  Access w;
  EFI_STATUS status = Count == 0 ? EFI_INVALID_PARAMETER : ktpci::CheckConfigAccess(W, Offset, Buffer, &w);
  if (EFI_ERROR(status)) {
    d->Test.RefusedAccesses++;
    return status;
  }
  kt270::Adapter* a = d->Test.Adapter;
  unsigned size = (unsigned)w.size;
  // The model takes normal strides only; FIFO and fill are element loops.
  bool ok = true;
  UINT8* bytes = static_cast<UINT8*>(Buffer);
  if (StrideOf(w) == kt270::Stride::kNormal) {
    ok = write ? a->ConfigWrite(Offset, size, Count, Buffer) : a->ConfigRead(Offset, size, Count, Buffer);
  } else {
    for (UINTN i = 0; i < Count && ok; ++i) {
      UINT32 at = Offset + (UINT32)ktpci::SpaceOffset(w, i);
      UINT8* el = bytes + ktpci::BufferOffset(w, i);
      ok = write ? a->ConfigWrite(at, size, 1, el) : a->ConfigRead(at, size, 1, el);
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

void IgnoreUnsupported(EFI_PCI_IO_PROTOCOL*) {}

// What the PCI bus driver answers: one QWORD memory descriptor where the
// BAR decodes, then the end tag; the caller frees it.
EFI_STATUS EFIAPI GetBarAttributes(EFI_PCI_IO_PROTOCOL* This, UINT8 Bar, UINT64* Supports, VOID** Resources) {
  VirtDevice* d = DeviceOf(This);
  UINT64 base = 0, size = 0;
  bool io = false;
  if ((Supports == nullptr && Resources == nullptr) || !d->Test.Adapter->BarRange(Bar, &base, &size, &io)) {
    return EFI_INVALID_PARAMETER;
  }
  if (Supports) *Supports = 0;
  if (!Resources) return EFI_SUCCESS;
  constexpr UINTN kBytes = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) + sizeof(EFI_ACPI_END_TAG_DESCRIPTOR);
  VOID* block = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, kBytes, &block))) return EFI_OUT_OF_RESOURCES;
  auto* q = static_cast<EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR*>(block);
  UINT8* bytes = static_cast<UINT8*>(block);
  for (UINTN i = 0; i < kBytes; ++i) bytes[i] = 0;
  q->Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  q->Len = sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) - 3;
  q->ResType = io ? ACPI_ADDRESS_SPACE_TYPE_IO : ACPI_ADDRESS_SPACE_TYPE_MEM;
  q->AddrRangeMin = base;
  q->AddrRangeMax = base + size - 1;
  q->AddrLen = size;
  auto* end = reinterpret_cast<EFI_ACPI_END_TAG_DESCRIPTOR*>(q + 1);
  end->Desc = ACPI_END_TAG_DESCRIPTOR;
  *Resources = block;
  return EFI_SUCCESS;
}

// The frame buffer in physical memory, aligned to its size as a BAR is, so
// that BAR 0 reports where a loader may write straight into it. It is
// reserved memory: RAM that stands for the aperture, which the OS must
// find in its memory map as not usable (an OS frame-buffer driver claims
// it, and the kernel's console keeps drawing into it after
// ExitBootServices). Reserved, not memory-mapped I/O: that type describes
// device ranges the firmware maps for runtime, and the OS would not know
// that RAM lies there.
UINT8* AllocateFrameBuffer(UINT32 size) {
  UINTN pages = size / 4096;
  EFI_PHYSICAL_ADDRESS block = 0xFFFFFFFF;  // a 32-bit BAR
  if (EFI_ERROR(gBS->AllocatePages(AllocateMaxAddress, EfiReservedMemoryType, 2 * pages, &block))) return nullptr;
  EFI_PHYSICAL_ADDRESS at = (block + size - 1) & ~static_cast<EFI_PHYSICAL_ADDRESS>(size - 1);
  if (at > block) gBS->FreePages(block, (at - block) / 4096);
  if (block + 2 * (UINT64)size > at + size) gBS->FreePages(at + size, (block + 2 * (UINT64)size - at - size) / 4096);
  return reinterpret_cast<UINT8*>(static_cast<UINTN>(at));
}

// Attributes: the command register is the model's; attributes it does not
// report as supported are refused.
EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Op, UINT64 Attrs,
                             UINT64* Result) {
  VirtDevice* d = DeviceOf(This);
  d->Test.AttributeCalls++;
  UINT16 command = d->Test.Adapter->Command();
  bool commandSet;
  EFI_STATUS s = ktpci::ApplyAttributes(Op, Attrs, Result, ktpci::kSupportedAttributes, &d->Test.EnabledAttributes,
                                        &command, &commandSet);
  if (commandSet) d->Test.Adapter->ConfigWrite(ktpci::kCommandOffset, 2, 1, &command);
  return s;
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
  d->PciIo = ktpci::MakePciIo<IgnoreUnsupported>(MemRead, MemWrite, ConfigRead, ConfigWrite, Attributes);
  d->PciIo.GetBarAttributes = GetBarAttributes;
  d->Test.Revision = kKtVirtRevision;
  d->Test.SetPlatform = SetPlatform;
  CalibrateTsc(d);

  kt270::Env env = {d, ModelAlloc, ModelFree, ModelNowUs};
  kt270::Config config = kt270::DefaultConfig();
  UINT8* fb = AllocateFrameBuffer(config.fb_size);
  if (!fb) return EFI_OUT_OF_RESOURCES;
  config.bar[0] = static_cast<UINT32>(reinterpret_cast<UINTN>(fb)) | (config.bar[0] & 0xF);
  d->Test.Adapter = kt270::Adapter::Create(env, config, fb);
  if (!d->Test.Adapter) {
    gBS->FreePages(reinterpret_cast<UINTN>(fb), config.fb_size / 4096);
    return EFI_OUT_OF_RESOURCES;
  }

  d->Sink = {d, RecordProperty, RecordRegister, AnswerValue, RecordUnexpected};
  simplatform::InitPropertyDatabase(&d->Database, &d->Sink);
  simplatform::InitPlatformServices(&d->Services, &d->Sink);

  EFI_HANDLE controller = nullptr;
  EFI_STATUS s = gBS->InstallMultipleProtocolInterfaces(&controller, &kEfiDevicePathProtocolGuid, &ktpci::kDevicePath,
                                                        &kEfiPciIoProtocolGuid, &d->PciIo, &kKtVirtProtocolGuid,
                                                        &d->Test, nullptr);
  if (EFI_ERROR(s)) {
    kt270::Adapter::Destroy(d->Test.Adapter);
    gBS->FreePages(reinterpret_cast<UINTN>(fb), config.fb_size / 4096);
    return s;
  }
  d->Test.Controller = controller;
  debugcon::JsonLine("virt").Str("event_of", "KtVirt").Num("tsc_mhz", d->Test.TscPerUs)
      .Num("fb_size", d->Test.Adapter->FrameBufferSize()).Hex("fb_address", reinterpret_cast<UINTN>(fb)).Emit();
  return EFI_SUCCESS;
}
