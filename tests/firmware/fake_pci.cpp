// KtFakePci.efi: a test-only boot-service driver for OVMF. Its entry point
// creates one controller that looks like a KT270 to the driver: a PCI-style
// device path and a PCI I/O protocol whose configuration space reads vendor
// 0x1F6B / device 0x6B10. BAR 0 and BAR 2 accept memory accesses and read
// back zeros; there is no adapter behind them yet.
#include "efi/efi.h"
#include "tests/firmware/kt_fake_pci.h"
#include "tests/firmware/pci_stand_in.h"

namespace {

using ktpci::Access;
using ktpci::kCommandOffset;

constexpr UINT32 kConfigSize = 256;

struct Bar {
  bool memory;
  UINT64 size;
};
// BAR 0 frame buffer, BAR 1 I/O, BAR 2 registers; sizes fit the
// configuration values below.
constexpr Bar kBars[6] = {{true, 0x10000000}, {false, 0x100}, {true, 0x10000}, {false, 0}, {false, 0}, {false, 0}};

struct FakeDevice {
  EFI_PCI_IO_PROTOCOL PciIo;
  KT_FAKE_PCI_PROTOCOL Test;
  UINT8 Config[kConfigSize];
};

FakeDevice* DeviceFromPciIo(EFI_PCI_IO_PROTOCOL* This) { return reinterpret_cast<FakeDevice*>(This); }
static_assert(offsetof(FakeDevice, PciIo) == 0, "PCI I/O first: the stand-in's \"this\"");

bool InRange(UINT64 offset, UINTN count, const Access& a, UINT64 limit) {
  if (count == 0 || offset >= limit) return false;
  UINT64 last = ktpci::SpaceOffset(a, count - 1);
  return last < limit - offset && a.size <= limit - offset - last;
}

EFI_STATUS MemAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex, UINT64 Offset,
                     UINTN Count, VOID* Buffer, bool write) {
  FakeDevice* d = DeviceFromPciIo(This);
  Access a;
  if (!Buffer || !ktpci::DecodeWidth(Width, &a) || BarIndex >= 6 || !kBars[BarIndex].memory ||
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

// Only the command register takes writes; the rest of the header reads
// back as configured, like read-only registers.
void WriteConfigByte(FakeDevice* d, UINT32 offset, UINT8 value) {
  if (offset == kCommandOffset || offset == kCommandOffset + 1) {
    d->Config[offset] = value;
    d->Test.Counters.CommandWrites++;
  }
}

EFI_STATUS ConfigAccess(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset, UINTN Count,
                        VOID* Buffer, bool write) {
  FakeDevice* d = DeviceFromPciIo(This);
  Access a;
  EFI_STATUS status = ktpci::CheckConfigAccess(Width, Offset, Buffer, &a);
  if (!EFI_ERROR(status) && !InRange(Offset, Count, a, kConfigSize)) status = EFI_UNSUPPORTED;
  if (EFI_ERROR(status)) {
    d->Test.Counters.RefusedAccesses++;
    return status;
  }
  if (write) d->Test.Counters.ConfigWrites++; else d->Test.Counters.ConfigReads++;
  UINT8* bytes = static_cast<UINT8*>(Buffer);
  for (UINTN i = 0; i < Count; ++i) {
    UINT32 at = Offset + (UINT32)ktpci::SpaceOffset(a, i);
    UINT8* element = bytes + ktpci::BufferOffset(a, i);
    for (UINTN b = 0; b < a.size; ++b) {
      if (write) {
        WriteConfigByte(d, at + (UINT32)b, element[b]);
      } else {
        element[b] = d->Config[at + b];
      }
    }
  }
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI ConfigRead(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                             UINTN Count, VOID* Buffer) {
  return ConfigAccess(This, Width, Offset, Count, Buffer, false);
}
EFI_STATUS EFIAPI ConfigWrite(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT32 Offset,
                              UINTN Count, VOID* Buffer) {
  return ConfigAccess(This, Width, Offset, Count, Buffer, true);
}

void CountUnsupported(EFI_PCI_IO_PROTOCOL* This) { DeviceFromPciIo(This)->Test.Counters.UnsupportedCalls++; }

// Attributes: Set and Enable take any attributes, also those Supported does
// not report.
EFI_STATUS EFIAPI Attributes(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
                             UINT64 Attrs, UINT64* Result) {
  FakeDevice* d = DeviceFromPciIo(This);
  d->Test.Counters.AttributeCalls++;
  UINT16 command = (UINT16)(d->Config[kCommandOffset] | d->Config[kCommandOffset + 1] << 8);
  bool commandSet;
  EFI_STATUS status =
      ktpci::ApplyAttributes(Operation, Attrs, Result, ~0ull, &d->Test.EnabledAttributes, &command, &commandSet);
  if (commandSet) {
    d->Config[kCommandOffset] = (UINT8)command;
    d->Config[kCommandOffset + 1] = (UINT8)(command >> 8);
  }
  return status;
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
    ktpci::MakePciIo<CountUnsupported>(MemRead, MemWrite, ConfigRead, ConfigWrite, Attributes),
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
      &controller, &kEfiDevicePathProtocolGuid, &ktpci::kDevicePath, &kEfiPciIoProtocolGuid, &gDevice.PciIo,
      &kKtFakePciProtocolGuid, &gDevice.Test, nullptr);
}
