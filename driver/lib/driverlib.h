// Driver support library: the firmware's service tables, driver-model
// installation, the debug mask, debug output and assertion reports, and
// Unicode string-table look-ups.
#pragma once

#include "efi/efi.h"

extern EFI_SYSTEM_TABLE* gST;
extern EFI_BOOT_SERVICES* gBS;
extern EFI_RUNTIME_SERVICES* gRT;

// Library state, set by EfiInitializeDriverLib and ReadDebugMask only.
extern BOOLEAN LibraryInitialized;
extern UINT64 DebugMask;
extern BOOLEAN DebugMaskLoaded;

// Debug categories (bits of the "EFIDebug" mask).
#define DEBUG_ASSERTION 0x80000000ULL
#define DEBUG_ERROR 0x80000000ULL  // a firmware service refused what cannot fail
#define DEBUG_LIBRARY 0x00000040ULL
#define DEBUG_DEFAULT_MASK 0x80000000ULL

EFI_STATUS EfiInitializeDriverLib(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable);
EFI_STATUS InstallDriverBindingProtocol(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable,
                                        EFI_DRIVER_BINDING_PROTOCOL* DriverBinding, EFI_HANDLE DriverBindingHandle);
EFI_STATUS InstallDriverProtocols(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable,
                                  EFI_DRIVER_BINDING_PROTOCOL* DriverBinding, EFI_HANDLE DriverBindingHandle,
                                  EFI_COMPONENT_NAME_PROTOCOL* ComponentName,
                                  EFI_DRIVER_CONFIGURATION_PROTOCOL* DriverConfiguration,
                                  EFI_DRIVER_DIAGNOSTICS_PROTOCOL* DriverDiagnostics);
void ReadDebugMask();
// The start-up policy for an adapter: fast when the image was built for it
// (QUOVAN_FAST_STARTUP) or when the variable "QuovanFastStart" under the
// driver's own variable GUID holds a first byte other than 0; otherwise the
// design's timing.
BOOLEAN FastStartupChosen();
// Every argument must fill a 64-bit slot (UINT64, INT64, UINTN, pointer);
// see driver/lib/print.h for the conversions.
void DebugOut(UINT64 Category, const CHAR8* Format, ...);
void ReportAssertion(const CHAR8* FileName, UINTN LineNumber, const CHAR8* Message);
EFI_STATUS FindUnicodeString(const CHAR8* Language, const CHAR8* SupportedLanguages,
                             const EFI_UNICODE_STRING_TABLE* Table, CHAR16** UnicodeString);
BOOLEAN GuidsEqual(const EFI_GUID* Guid1, const EFI_GUID* Guid2);
INTN CompareBytes(const void* Buffer1, const void* Buffer2, UINTN Length);

#ifndef QUOVAN_EFI_BUILD
// Host tests load the driver many times in one process; this puts the
// library's globals back to their load-time state.
void DriverLibResetForHost();
#endif
