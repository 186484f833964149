// KtFakePci.efi: a test-only boot-service driver for OVMF. Its entry point
// creates one controller that looks like a KT270 to the driver: a PCI-style
// device path and a PCI I/O protocol whose configuration space reads vendor
// 0x1F6B / device 0x6B10. BAR 0 and BAR 2 accept memory accesses and read
// back zeros; there is no adapter behind them yet.
#include "efi/efi.h"
#include "tests/firmware/kt_fake_pci.h"

namespace {

constexpr UINT32 kConfigSize = 256;
constexpr UINT32 kCommandOffset = 0x04;
constexpr UINT16 kCommandIo = 0x1, kCommandMemory = 0x2, kCommandBusMaster = 0x4;

struct Bar {
  bool memory;
  UINT64 size;
};
// BAR 0 frame buffer, BAR 1 I/O, BAR 2 registers; sizes fit the
// configuration values below.
constexpr Bar kBars[6] = {{true, 0x10000000}, {false, 0x100}, {true, 0x10000}, {false, 0}, {false, 0}, {false, 0}};

#pragma pack(push, 1)
struct FakeDevicePath {
  ACPI_HID_DEVICE_PATH Root;
  PCI_DEVICE_PATH Pci;
  EFI_DEVICE_PATH_PROTOCOL End;
};
#pragma pack(pop)

// Its own PciRoot (UID 0x4B), so the path cannot collide with a real one.
constexpr FakeDevicePath kDevicePath = {
    {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, 0x0A0341D0 /* PNP0A03 */, 0x4B},
    {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {sizeof(PCI_DEVICE_PATH), 0}}, 0x00, 0x00},
    {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}},
};

struct FakeDevice {
  EFI_PCI_IO_PROTOCOL PciIo;
  KT_FAKE_PCI_PROTOCOL Test;
  UINT8 Config[kConfigSize];
};

FakeDevice* DeviceFromPciIo(EFI_PCI_IO_PROTOCOL* This) { return reinterpret_cast<FakeDevice*>(This); }
static_assert(offsetof(FakeDevice, PciIo) == 0, "PCI I/O first: the stand-in's \"this\"");

// Splits a PCI I/O width into element size and strides, as the PCI bus
// driver reads it: FIFO keeps the address, Fill keeps the buffer element.
struct Access {
  UINTN size;
  bool stepAddress;
  bool stepBuffer;
};
bool DecodeWidth(EFI_PCI_IO_PROTOCOL_WIDTH width, Access* out) {
  if ((UINT32)width >= EfiPciIoWidthMaximum) return false;
  out->size = (UINTN)1 << (width & 3);
  out->stepAddress = !(width >= EfiPciIoWidthFifoUint8 && width <= EfiPciIoWidthFifoUint64);
  out->stepBuffer = !(width >= EfiPciIoWidthFillUint8 && width <= EfiPciIoWidthFillUint64);
  return true;
}

bool InRange(UINT64 offset, UINTN count, const Access& a, UINT64 limit) {
  if (count == 0 || offset >= limit) return false;
  UINT64 last = a.stepAddress ? (count - 1) * a.size : 0;
  return last < limit - offset && a.size <= limit - offset - last;
}

void CopyBytes(UINT8* to, const UINT8* from, UINTN n) {
  for (UINTN i = 0; i < n; ++i) to[i] = from[i];
}

EFI_STATUS EFIAPI Unsupported0(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64, UINT64,
                               UINT64, UINT64*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI IoUnsupported(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN, VOID*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}

EFI_STATUS MemAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                     UINTN Count, VOID* Buffer, bool write) {
  FakeDevice* d = DeviceFromPciIo(This);
  Access a;
  if (!Buffer || !DecodeWidth(Width, &a) || BarIndex >= 6 || !kBars[BarIndex].memory ||
      !InRange(Offset, Count, a, kBars[BarIndex].size)) {
    d->Test.Counters.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;
  }
  if (write) {
    d->Test.Counters.MemWrites[BarIndex]++;
  } else {
    d->Test.Counters.MemReads[BarIndex]++;
    UINT8* out = static_cast<UINT8*>(Buffer);
    UINTN elements = a.stepBuffer ? Count : 1;
    for (UINTN i = 0; i < elements * a.size; ++i) out[i] = 0;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI MemRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                          UINTN Count, VOID* Buffer) {
  return MemAccess(This, Width, BarIndex, Offset, Count, Buffer, false);
}

EFI_STATUS EFIAPI MemWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                           UINT64 Offset, UINTN Count, VOID* Buffer) {
  return MemAccess(This, Width, BarIndex, Offset, Count, Buffer, true);
}

// Configuration space: 64-bit and misaligned accesses are refused as the
// PCI bus driver refuses them.
EFI_STATUS CheckConfigAccess(FakeDevice* d, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                             VOID* Buffer, Access* a) {
  if (!Buffer || !DecodeWidth(Width, a) || a->size == 8) {
    d->Test.Counters.RefusedAccesses++;
    return EFI_INVALID_PARAMETER;
  }
  if (Offset % a->size != 0 || !InRange(Offset, Count, *a, kConfigSize)) {
    d->Test.Counters.RefusedAccesses++;
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI ConfigRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                             UINTN Count, VOID* Buffer) {
  FakeDevice* d = DeviceFromPciIo(This);
  Access a;
  EFI_STATUS status = CheckConfigAccess(d, Width, Offset, Count, Buffer, &a);
  if (EFI_ERROR(status)) return status;
  d->Test.Counters.ConfigReads++;
  UINT8* out = static_cast<UINT8*>(Buffer);
  for (UINTN i = 0; i < Count; ++i) {
    CopyBytes(out + (a.stepBuffer ? i * a.size : 0), d->Config + Offset + (a.stepAddress ? i * a.size : 0), a.size);
  }
  return EFI_SUCCESS;
}

// Only the command register takes writes; the rest of the header reads
// back as configured, like read-only registers.
void WriteConfigByte(FakeDevice* d, UINT32 offset, UINT8 value) {
  if (offset == kCommandOffset || offset == kCommandOffset + 1) {
    d->Config[offset] = value;
    d->Test.Counters.CommandWrites++;
  }
}

EFI_STATUS EFIAPI ConfigWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                              UINTN Count, VOID* Buffer) {
  FakeDevice* d = DeviceFromPciIo(This);
  Access a;
  EFI_STATUS status = CheckConfigAccess(d, Width, Offset, Count, Buffer, &a);
  if (EFI_ERROR(status)) return status;
  d->Test.Counters.ConfigWrites++;
  const UINT8* in = static_cast<const UINT8*>(Buffer);
  for (UINTN i = 0; i < Count; ++i) {
    UINT32 at = Offset + (UINT32)(a.stepAddress ? i * a.size : 0);
    const UINT8* from = in + (a.stepBuffer ? i * a.size : 0);
    for (UINTN b = 0; b < a.size; ++b) WriteConfigByte(d, at + (UINT32)b, from[b]);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CopyMemUnsupported(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT8,
                                     UINT64, UINTN) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI MapUnsupported(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_OPERATION, VOID*, UINTN*,
                                 EFI_PHYSICAL_ADDRESS*, VOID**) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnmapUnsupported(EFI_PCI_IO_PROTOCOL* This, VOID*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI AllocateBufferUnsupported(EFI_PCI_IO_PROTOCOL* This, EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN,
                                            VOID**, UINT64) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI FreeBufferUnsupported(EFI_PCI_IO_PROTOCOL* This, UINTN, VOID*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI FlushUnsupported(EFI_PCI_IO_PROTOCOL* This) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI GetLocationUnsupported(EFI_PCI_IO_PROTOCOL* This, UINTN*, UINTN*, UINTN*, UINTN*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI GetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL* This, UINT8, UINT64*, VOID**) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI SetBarAttributesUnsupported(EFI_PCI_IO_PROTOCOL* This, UINT64, UINT8, UINT64*, UINT64*) {
  DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++;
  return EFI_UNSUPPORTED;
}

// Attributes: every operation succeeds. Enable/Disable/Set of I/O, memory
// and bus master show in the command register, as on a real bus.
constexpr UINT64 kSupportedAttributes = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY |
                                        EFI_PCI_IO_ATTRIBUTE_BUS_MASTER | EFI_PCI_IO_ATTRIBUTE_VGA_IO |
                                        EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO;

UINT16 CommandBits(UINT64 attributes) {
  return (UINT16)(((attributes & EFI_PCI_IO_ATTRIBUTE_IO) ? kCommandIo : 0) |
                  ((attributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) ? kCommandMemory : 0) |
                  ((attributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) ? kCommandBusMaster : 0));
}

EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
                             UINT64 Attrs, UINT64* Result) {
  FakeDevice* d = DeviceFromPciIo(This);
  d->Test.Counters.AttributeCalls++;
  UINT16 command = (UINT16)(d->Config[kCommandOffset] | d->Config[kCommandOffset + 1] << 8);
  switch (Operation) {
    case EfiPciIoAttributeOperationGet:
    case EfiPciIoAttributeOperationSupported:
      if (!Result) return EFI_INVALID_PARAMETER;
      *Result = Operation == EfiPciIoAttributeOperationGet ? d->Test.EnabledAttributes : kSupportedAttributes;
      return EFI_SUCCESS;
    case EfiPciIoAttributeOperationSet:
      d->Test.EnabledAttributes = Attrs;
      command = (UINT16)((command & ~(kCommandIo | kCommandMemory | kCommandBusMaster)) | CommandBits(Attrs));
      break;
    case EfiPciIoAttributeOperationEnable:
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
  d->Config[kCommandOffset] = (UINT8)command;
  d->Config[kCommandOffset + 1] = (UINT8)(command >> 8);
  return EFI_SUCCESS;
}

void Put16(UINT8* at, UINT16 v) {
  at[0] = (UINT8)v;
  at[1] = (UINT8)(v >> 8);
}
void Put32(UINT8* at, UINT32 v) {
  Put16(at, (UINT16)v);
  Put16(at + 2, (UINT16)(v >> 16));
}

FakeDevice gDevice = {
    {Unsupported0, Unsupported0, {MemRead, MemWrite}, {IoUnsupported, IoUnsupported}, {ConfigRead, ConfigWrite},
     CopyMemUnsupported, MapUnsupported, UnmapUnsupported, AllocateBufferUnsupported, FreeBufferUnsupported,
     FlushUnsupported, GetLocationUnsupported, Attributes, GetBarAttributesUnsupported,
     SetBarAttributesUnsupported, 0, nullptr},
    {kKtFakePciRevision, nullptr, 0, {}},
    {},
};

void ResetConfigSpace(UINT8* c) {
  for (UINT32 i = 0; i < kConfigSize; ++i) c[i] = 0;
  Put16(c + 0x00, 0x1F6B);  // vendor
  Put16(c + 0x02, 0x6B10);  // device
  c[0x0B] = 0x03;           // class: display controller, VGA compatible
  Put32(c + 0x10, 0xC0000008);  // BAR 0: prefetchable memory, frame buffer
  Put32(c + 0x14, 0x0000C001);  // BAR 1: I/O
  Put32(c + 0x18, 0xD0000000);  // BAR 2: memory, registers
}

}  // namespace

extern "C" EFI_STATUS EFIAPI FakePciEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  (void)ImageHandle;
  ResetConfigSpace(gDevice.Config);
  gDevice.Test.ConfigSpace = gDevice.Config;
  EFI_HANDLE controller = nullptr;
  // The firmware connects the new handle once this entry point returns;
  // the driver under test is loaded after us, so nothing binds yet.
  return SystemTable->BootServices->InstallMultipleProtocolInterfaces(
      &controller, &kEfiDevicePathProtocolGuid, &kDevicePath, &kEfiPciIoProtocolGuid, &gDevice.PciIo,
      &kKtFakePciProtocolGuid, &gDevice.Test, nullptr);
}
