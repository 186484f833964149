// The supported-device table: the PCI devices this driver drives and the
// controller name each one shows through Component Name.
#pragma once

#include "efi/efi.h"

#define QUOVAN_PCI_VENDOR_ID 0x1F6B
#define DEVICE_ROW_SLOTS 20

// Used identifiers first, the rest zero. The vendor is the same for every
// row and is not stored.
struct SUPPORTED_DEVICE_ROW {
  UINT16 DeviceIds[DEVICE_ROW_SLOTS];
  EFI_UNICODE_STRING_TABLE Names[2];  // {"eng", name} and the null entry
};

// The one search of the table: EFI_NOT_FOUND when no row lists DeviceId.
EFI_STATUS FindDeviceRow(UINT16 DeviceId, const SUPPORTED_DEVICE_ROW** Row);

// ConfigValue is the 32-bit configuration-space word at offset 0: device
// identifier in the upper half, vendor in the lower.
BOOLEAN DeviceIsSupported(UINT32 ConfigValue);
