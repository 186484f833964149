// Placeholder entry point until the driver binding lands.
#include "efi/efi.h"

extern "C" EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  (void)ImageHandle;
  (void)SystemTable;
  return EFI_SUCCESS;
}
