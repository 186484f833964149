// EFI Device Path protocol: a packed sequence of nodes ended by an
// end-of-hardware-path node.
#pragma once

#include "efi/efi_types.h"

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
};
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header");

#define HARDWARE_DEVICE_PATH 0x01
#define ACPI_DEVICE_PATH 0x02
#define MESSAGING_DEVICE_PATH 0x03
#define MEDIA_DEVICE_PATH 0x04
#define END_DEVICE_PATH_TYPE 0x7F

#define HW_PCI_DP 0x01
#define HW_VENDOR_DP 0x04
#define ACPI_DP 0x01
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF
#define END_INSTANCE_DEVICE_PATH_SUBTYPE 0x01

#pragma pack(push, 1)
struct ACPI_HID_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32 HID;
  UINT32 UID;
};
struct PCI_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8 Function;
  UINT8 Device;
};
struct VENDOR_DEVICE_PATH {
  EFI_DEVICE_PATH_PROTOCOL Header;
  EFI_GUID Guid;
};
#pragma pack(pop)
static_assert(sizeof(ACPI_HID_DEVICE_PATH) == 12, "ACPI node");
static_assert(sizeof(PCI_DEVICE_PATH) == 6, "PCI node");
static_assert(sizeof(VENDOR_DEVICE_PATH) == 20, "vendor node");
