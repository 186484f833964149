// What the PCI I/O stand-ins of KtFakePci.efi and KtVirt.efi share: their
// device path, how a PCI I/O width splits into element size and strides,
// the checks of a configuration access, Attributes on the command register,
// and the members neither implements.
#pragma once

#include "efi/efi.h"

namespace ktpci {

#pragma pack(push, 1)
struct DevicePath {
  ACPI_HID_DEVICE_PATH Root;
  PCI_DEVICE_PATH Pci;
  EFI_DEVICE_PATH_PROTOCOL End;
};
#pragma pack(pop)

// Its own PciRoot (UID 0x4B), so the path cannot collide with a real one.
inline constexpr DevicePath kDevicePath = {
    {{ACPI_DEVICE_PATH, ACPI_DP, {sizeof(ACPI_HID_DEVICE_PATH), 0}}, 0x0A0341D0 /* PNP0A03 */, 0x4B},
    {{HARDWARE_DEVICE_PATH, HW_PCI_DP, {sizeof(PCI_DEVICE_PATH), 0}}, 0x00, 0x00},
    {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {sizeof(EFI_DEVICE_PATH_PROTOCOL), 0}},
};

// A PCI I/O width as element size and strides, as the PCI bus driver reads
// it: FIFO keeps the address, Fill keeps the buffer element.
struct Access {
  UINTN size;
  bool stepAddress;
  bool stepBuffer;
};
inline bool DecodeWidth(EFI_PCI_IO_PROTOCOL_WIDTH width, Access* out) {
  if ((UINT32)width >= EfiPciIoWidthMaximum) return false;
  out->size = (UINTN)1 << (width & 3);
  out->stepAddress = !(width >= EfiPciIoWidthFifoUint8 && width <= EfiPciIoWidthFifoUint64);
  out->stepBuffer = !(width >= EfiPciIoWidthFillUint8 && width <= EfiPciIoWidthFillUint64);
  return true;
}
// Where element i of an access lies, from the start of the access in the
// device's space and in the caller's buffer.
inline UINTN SpaceOffset(const Access& a, UINTN i) { return a.stepAddress ? i * a.size : 0; }
inline UINTN BufferOffset(const Access& a, UINTN i) { return a.stepBuffer ? i * a.size : 0; }

// 64-bit and misaligned configuration accesses are refused as the PCI bus
// driver refuses them.
inline EFI_STATUS CheckConfigAccess(EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset, const VOID* buffer,
                                    Access* a) {
  if (!buffer || !DecodeWidth(width, a) || a->size == 8) return EFI_INVALID_PARAMETER;
  if (offset % a->size != 0) return EFI_UNSUPPORTED;
  return EFI_SUCCESS;
}

constexpr UINT32 kCommandOffset = 0x04;
constexpr UINT16 kCommandIo = 0x1, kCommandMemory = 0x2, kCommandBusMaster = 0x4;
constexpr UINT64 kSupportedAttributes = EFI_PCI_IO_ATTRIBUTE_IO | EFI_PCI_IO_ATTRIBUTE_MEMORY |
                                        EFI_PCI_IO_ATTRIBUTE_BUS_MASTER | EFI_PCI_IO_ATTRIBUTE_VGA_IO |
                                        EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY | EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO;

inline UINT16 CommandBits(UINT64 attributes) {
  return (UINT16)(((attributes & EFI_PCI_IO_ATTRIBUTE_IO) ? kCommandIo : 0) |
                  ((attributes & EFI_PCI_IO_ATTRIBUTE_MEMORY) ? kCommandMemory : 0) |
                  ((attributes & EFI_PCI_IO_ATTRIBUTE_BUS_MASTER) ? kCommandBusMaster : 0));
}

// One Attributes call on the enabled attributes and the command register:
// I/O, memory and bus master show in the command register, as on a real
// bus. Set and Enable refuse attributes outside `accepted`. *commandSet
// says whether the caller is to write *command back to the device.
inline EFI_STATUS ApplyAttributes(EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION operation, UINT64 attributes,
                                  UINT64* result, UINT64 accepted, UINT64* enabled, UINT16* command,
                                  bool* commandSet) {
  *commandSet = false;
  switch (operation) {
    case EfiPciIoAttributeOperationGet:
    case EfiPciIoAttributeOperationSupported:
      if (!result) return EFI_INVALID_PARAMETER;
      *result = operation == EfiPciIoAttributeOperationGet ? *enabled : kSupportedAttributes;
      return EFI_SUCCESS;
    case EfiPciIoAttributeOperationSet:
      if (attributes & ~accepted) return EFI_UNSUPPORTED;
      *enabled = attributes;
      *command = (UINT16)(*command & ~(kCommandIo | kCommandMemory | kCommandBusMaster));
      *command |= CommandBits(attributes);
      break;
    case EfiPciIoAttributeOperationEnable:
      if (attributes & ~accepted) return EFI_UNSUPPORTED;
      *enabled |= attributes;
      *command |= CommandBits(attributes);
      break;
    case EfiPciIoAttributeOperationDisable:
      *enabled &= ~attributes;
      *command = (UINT16)(*command & ~CommandBits(attributes));
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }
  *commandSet = true;
  return EFI_SUCCESS;
}

// The members neither stand-in implements: each answers EFI_UNSUPPORTED
// after Note(This), where an image counts such calls.
template <void (*Note)(EFI_PCI_IO_PROTOCOL*)>
struct Unsupported {
  static EFI_STATUS EFIAPI Poll(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT64,
                                UINT64, UINT64, UINT64*) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI Io(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINTN, VOID*) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI CopyMem(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH, UINT8, UINT64, UINT8,
                                   UINT64, UINTN) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI Map(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_OPERATION, VOID*, UINTN*,
                               EFI_PHYSICAL_ADDRESS*, VOID**) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI Unmap(EFI_PCI_IO_PROTOCOL* This, VOID*) { return Refuse(This); }
  static EFI_STATUS EFIAPI AllocateBuffer(EFI_PCI_IO_PROTOCOL* This, EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN,
                                          VOID**, UINT64) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI FreeBuffer(EFI_PCI_IO_PROTOCOL* This, UINTN, VOID*) { return Refuse(This); }
  static EFI_STATUS EFIAPI Flush(EFI_PCI_IO_PROTOCOL* This) { return Refuse(This); }
  static EFI_STATUS EFIAPI GetLocation(EFI_PCI_IO_PROTOCOL* This, UINTN*, UINTN*, UINTN*, UINTN*) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI GetBarAttributes(EFI_PCI_IO_PROTOCOL* This, UINT8, UINT64*, VOID**) {
    return Refuse(This);
  }
  static EFI_STATUS EFIAPI SetBarAttributes(EFI_PCI_IO_PROTOCOL* This, UINT64, UINT8, UINT64*, UINT64*) {
    return Refuse(This);
  }

 private:
  static EFI_STATUS Refuse(EFI_PCI_IO_PROTOCOL* This) {
    Note(This);
    return EFI_UNSUPPORTED;
  }
};

// A PCI I/O protocol with these members and the unsupported rest.
template <void (*Note)(EFI_PCI_IO_PROTOCOL*)>
constexpr EFI_PCI_IO_PROTOCOL MakePciIo(EFI_PCI_IO_PROTOCOL_IO_MEM memRead, EFI_PCI_IO_PROTOCOL_IO_MEM memWrite,
                                        EFI_PCI_IO_PROTOCOL_CONFIG configRead,
                                        EFI_PCI_IO_PROTOCOL_CONFIG configWrite,
                                        EFI_PCI_IO_PROTOCOL_ATTRIBUTES attributes) {
  using U = Unsupported<Note>;
  return {U::Poll, U::Poll, {memRead, memWrite}, {U::Io, U::Io}, {configRead, configWrite}, U::CopyMem, U::Map,
          U::Unmap, U::AllocateBuffer, U::FreeBuffer, U::Flush, U::GetLocation, attributes, U::GetBarAttributes,
          U::SetBarAttributes, 0, nullptr};
}

}  // namespace ktpci
