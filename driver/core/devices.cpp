// The supported-device table and its look-up.
#include "driver/core/devices.h"

namespace {

// Ends with an all-zero row.
const SUPPORTED_DEVICE_ROW kSupportedDevices[] = {
    {{0x6B10, 0x6B11, 0x6B12},
     {{"eng", u"ZEL Quovan KT270 Video Adapter"}, {nullptr, nullptr}}},
    {{0}, {{nullptr, nullptr}, {nullptr, nullptr}}},
};

}  // namespace

EFI_STATUS FindDeviceRow(UINT16 DeviceId, const SUPPORTED_DEVICE_ROW** Row) {
  for (const SUPPORTED_DEVICE_ROW* Candidate = kSupportedDevices; Candidate->DeviceIds[0] != 0; ++Candidate) {
    // The walk stops at the first empty slot, so identifier 0 never matches.
    for (UINTN Slot = 0; Slot < DEVICE_ROW_SLOTS && Candidate->DeviceIds[Slot] != 0; ++Slot) {
      if (Candidate->DeviceIds[Slot] == DeviceId) {
        *Row = Candidate;
        return EFI_SUCCESS;
      }
    }
  }
  return EFI_NOT_FOUND;
}

BOOLEAN DeviceIsSupported(UINT32 ConfigValue) {
  if ((ConfigValue & 0xFFFF) != QUOVAN_PCI_VENDOR_ID) return EFI_FALSE;
  const SUPPORTED_DEVICE_ROW* Row;
  return FindDeviceRow(static_cast<UINT16>(ConfigValue >> 16), &Row) == EFI_SUCCESS ? EFI_TRUE : EFI_FALSE;
}
