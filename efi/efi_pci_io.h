// EFI PCI I/O protocol, every member in the order of the UEFI standard.
#pragma once

#include "efi/efi_types.h"

struct EFI_PCI_IO_PROTOCOL;

enum EFI_PCI_IO_PROTOCOL_WIDTH {
  EfiPciIoWidthUint8,
  EfiPciIoWidthUint16,
  EfiPciIoWidthUint32,
  EfiPciIoWidthUint64,
  EfiPciIoWidthFifoUint8,
  EfiPciIoWidthFifoUint16,
  EfiPciIoWidthFifoUint32,
  EfiPciIoWidthFifoUint64,
  EfiPciIoWidthFillUint8,
  EfiPciIoWidthFillUint16,
  EfiPciIoWidthFillUint32,
  EfiPciIoWidthFillUint64,
  EfiPciIoWidthMaximum
};

enum EFI_PCI_IO_PROTOCOL_OPERATION {
  EfiPciIoOperationBusMasterRead,
  EfiPciIoOperationBusMasterWrite,
  EfiPciIoOperationBusMasterCommonBuffer,
  EfiPciIoOperationMaximum
};

enum EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION {
  EfiPciIoAttributeOperationGet,
  EfiPciIoAttributeOperationSet,
  EfiPciIoAttributeOperationEnable,
  EfiPciIoAttributeOperationDisable,
  EfiPciIoAttributeOperationSupported,
  EfiPciIoAttributeOperationMaximum
};

#define EFI_PCI_IO_PASS_THROUGH_BAR 0xFF

#define EFI_PCI_IO_ATTRIBUTE_ISA_MOTHERBOARD_IO 0x0001ULL
#define EFI_PCI_IO_ATTRIBUTE_ISA_IO 0x0002ULL
#define EFI_PCI_IO_ATTRIBUTE_VGA_PALETTE_IO 0x0004ULL
#define EFI_PCI_IO_ATTRIBUTE_VGA_MEMORY 0x0008ULL
#define EFI_PCI_IO_ATTRIBUTE_VGA_IO 0x0010ULL
#define EFI_PCI_IO_ATTRIBUTE_IDE_PRIMARY_IO 0x0020ULL
#define EFI_PCI_IO_ATTRIBUTE_IDE_SECONDARY_IO 0x0040ULL
#define EFI_PCI_IO_ATTRIBUTE_MEMORY_WRITE_COMBINE 0x0080ULL
#define EFI_PCI_IO_ATTRIBUTE_IO 0x0100ULL
#define EFI_PCI_IO_ATTRIBUTE_MEMORY 0x0200ULL
#define EFI_PCI_IO_ATTRIBUTE_BUS_MASTER 0x0400ULL
#define EFI_PCI_IO_ATTRIBUTE_MEMORY_CACHED 0x0800ULL
#define EFI_PCI_IO_ATTRIBUTE_MEMORY_DISABLE 0x1000ULL
#define EFI_PCI_IO_ATTRIBUTE_EMBEDDED_DEVICE 0x2000ULL
#define EFI_PCI_IO_ATTRIBUTE_EMBEDDED_ROM 0x4000ULL
#define EFI_PCI_IO_ATTRIBUTE_DUAL_ADDRESS_CYCLE 0x8000ULL

// GetBarAttributes describes a BAR with ACPI resource descriptors: one QWORD
// address space descriptor per range, then an end tag. Packed, as ACPI lays
// them out.
#define ACPI_ADDRESS_SPACE_DESCRIPTOR 0x8A
#define ACPI_END_TAG_DESCRIPTOR 0x79
#define ACPI_ADDRESS_SPACE_TYPE_MEM 0x00
#define ACPI_ADDRESS_SPACE_TYPE_IO 0x01

#pragma pack(push, 1)
struct EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR {
  UINT8 Desc;
  UINT16 Len;  // bytes after this field: 0x2B
  UINT8 ResType;
  UINT8 GenFlag;
  UINT8 SpecificFlag;
  UINT64 AddrSpaceGranularity;
  UINT64 AddrRangeMin;
  UINT64 AddrRangeMax;
  UINT64 AddrTranslationOffset;
  UINT64 AddrLen;
};
struct EFI_ACPI_END_TAG_DESCRIPTOR {
  UINT8 Desc;
  UINT8 Checksum;
};
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) == 46, "ACPI QWORD descriptor");

typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)(EFI_PCI_IO_PROTOCOL* This,
                                                            EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 BarIndex,
                                                            UINT64 Offset, UINT64 Mask, UINT64 Value,
                                                            UINT64 Delay, UINT64* Result);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_IO_MEM)(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT8 BarIndex, UINT64 Offset, UINTN Count, VOID* Buffer);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL* This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT32 Offset, UINTN Count, VOID* Buffer);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_COPY_MEM)(EFI_PCI_IO_PROTOCOL* This,
                                                         EFI_PCI_IO_PROTOCOL_WIDTH Width, UINT8 DestBarIndex,
                                                         UINT64 DestOffset, UINT8 SrcBarIndex, UINT64 SrcOffset,
                                                         UINTN Count);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_MAP)(EFI_PCI_IO_PROTOCOL* This,
                                                    EFI_PCI_IO_PROTOCOL_OPERATION Operation, VOID* HostAddress,
                                                    UINTN* NumberOfBytes, EFI_PHYSICAL_ADDRESS* DeviceAddress,
                                                    VOID** Mapping);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_UNMAP)(EFI_PCI_IO_PROTOCOL* This, VOID* Mapping);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER)(EFI_PCI_IO_PROTOCOL* This, EFI_ALLOCATE_TYPE Type,
                                                                EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                                                VOID** HostAddress, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_FREE_BUFFER)(EFI_PCI_IO_PROTOCOL* This, UINTN Pages,
                                                            VOID* HostAddress);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_FLUSH)(EFI_PCI_IO_PROTOCOL* This);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_GET_LOCATION)(EFI_PCI_IO_PROTOCOL* This, UINTN* SegmentNumber,
                                                             UINTN* BusNumber, UINTN* DeviceNumber,
                                                             UINTN* FunctionNumber);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL* This,
                                                           EFI_PCI_IO_PROTOCOL_ATTRIBUTE_OPERATION Operation,
                                                           UINT64 Attributes, UINT64* Result);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_GET_BAR_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL* This, UINT8 BarIndex,
                                                                   UINT64* Supports, VOID** Resources);
typedef EFI_STATUS(EFIAPI* EFI_PCI_IO_PROTOCOL_SET_BAR_ATTRIBUTES)(EFI_PCI_IO_PROTOCOL* This, UINT64 Attributes,
                                                                   UINT8 BarIndex, UINT64* Offset,
                                                                   UINT64* Length);

struct EFI_PCI_IO_PROTOCOL_ACCESS {
  EFI_PCI_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_IO_PROTOCOL_IO_MEM Write;
};

struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
};

struct EFI_PCI_IO_PROTOCOL {
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollMem;
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollIo;
  EFI_PCI_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  EFI_PCI_IO_PROTOCOL_COPY_MEM CopyMem;
  EFI_PCI_IO_PROTOCOL_MAP Map;
  EFI_PCI_IO_PROTOCOL_UNMAP Unmap;
  EFI_PCI_IO_PROTOCOL_ALLOCATE_BUFFER AllocateBuffer;
  EFI_PCI_IO_PROTOCOL_FREE_BUFFER FreeBuffer;
  EFI_PCI_IO_PROTOCOL_FLUSH Flush;
  EFI_PCI_IO_PROTOCOL_GET_LOCATION GetLocation;
  EFI_PCI_IO_PROTOCOL_ATTRIBUTES Attributes;
  EFI_PCI_IO_PROTOCOL_GET_BAR_ATTRIBUTES GetBarAttributes;
  EFI_PCI_IO_PROTOCOL_SET_BAR_ATTRIBUTES SetBarAttributes;
  UINT64 RomSize;
  VOID* RomImage;
};
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Mem) == 16, "PCI I/O layout");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48, "PCI I/O layout");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Attributes) == 120, "PCI I/O layout");
static_assert(sizeof(EFI_PCI_IO_PROTOCOL) == 160, "PCI I/O layout");
