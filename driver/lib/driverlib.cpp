// Driver support library (module name "efidriverlib").
#include "driver/lib/driverlib.h"

#include <stdarg.h>

#include "driver/lib/print.h"

EFI_SYSTEM_TABLE* gST = nullptr;
EFI_BOOT_SERVICES* gBS = nullptr;
EFI_RUNTIME_SERVICES* gRT = nullptr;
BOOLEAN LibraryInitialized = EFI_FALSE;
UINT64 DebugMask = DEBUG_DEFAULT_MASK;
BOOLEAN DebugMaskLoaded = EFI_FALSE;

namespace {

const CHAR8 kModuleName[] = "efidriverlib";
const CHAR16 kDebugMaskVariable[] = u"EFIDebug";
const CHAR16 kFastStartVariable[] = u"QuovanFastStart";

// Lines named by the start-up reports; fixed, so the report text does not
// move when this file is edited.
constexpr UINTN kLineSystemTable = 59;
constexpr UINTN kLineBootServices = 64;
constexpr UINTN kLineRuntimeServices = 65;

constexpr UINTN kDebugBufferLength = 320;  // CHAR16s, terminator included
constexpr UINTN kTextAttributeRed = 0x04;  // red on black
constexpr UINTN kTextAttributeWhite = 0x0F;  // white on black

const CHAR16 kEmptyPrefix[] = u"";

EFI_STATUS InstallOn(EFI_HANDLE* Handle, const EFI_GUID* Guid, VOID* Interface) {
  if (gBS == nullptr) return EFI_INVALID_PARAMETER;
  return gBS->InstallProtocolInterface(Handle, Guid, EFI_NATIVE_INTERFACE, Interface);
}

// Compares two language codes over at most three characters, stopping at
// a terminator so that short or malformed codes are never read past.
bool LanguageCodesEqual(const CHAR8* Left, const CHAR8* Right) {
  for (UINTN Index = 0; Index < 3; ++Index) {
    if (CompareBytes(Left + Index, Right + Index, 1) != 0) return false;
    if (Left[Index] == 0) return true;
  }
  return true;
}

}  // namespace

EFI_STATUS EfiInitializeDriverLib(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable) {
  (void)ImageHandle;
  if (!LibraryInitialized) {
    LibraryInitialized = EFI_TRUE;
    gST = SystemTable;
    if (gST == nullptr) {
      ReportAssertion(kModuleName, kLineSystemTable, "gST != ((void *) 0)");
    } else {
      gBS = gST->BootServices;
      gRT = gST->RuntimeServices;
      if (gBS == nullptr) ReportAssertion(kModuleName, kLineBootServices, "gBS != ((void *) 0)");
      if (gRT == nullptr) ReportAssertion(kModuleName, kLineRuntimeServices, "gRT != ((void *) 0)");
    }
  }
  ReadDebugMask();
  DebugOut(DEBUG_LIBRARY, "EfiInitializeDriverLib: Started\n");
  return EFI_SUCCESS;
}

void ReadDebugMask() {
  if (DebugMaskLoaded || gRT == nullptr || gRT->GetVariable == nullptr) return;
  // Cleared first: a variable shorter than 8 bytes fills only its own bytes.
  UINT8 Data[sizeof(UINT64)] = {};
  UINTN DataSize = sizeof(Data);
  UINT32 Attributes = 0;
  EFI_STATUS Status = gRT->GetVariable(kDebugMaskVariable, &kEfiGlobalVariableGuid, &Attributes, &DataSize, Data);
  if (EFI_ERROR(Status)) return;
  UINT64 Mask = 0;
  for (UINTN Index = sizeof(Data); Index > 0; --Index) Mask = (Mask << 8) | Data[Index - 1];
  DebugMask = Mask;
  DebugMaskLoaded = EFI_TRUE;
}

BOOLEAN FastStartupChosen() {
#if defined(QUOVAN_FAST_STARTUP) && QUOVAN_FAST_STARTUP
  return EFI_TRUE;
#else
  if (gRT == nullptr || gRT->GetVariable == nullptr) return EFI_FALSE;
  UINT8 Data[8] = {};
  UINTN DataSize = sizeof(Data);
  UINT32 Attributes = 0;
  EFI_STATUS Status = gRT->GetVariable(kFastStartVariable, &kQuovanVariableGuid, &Attributes, &DataSize, Data);
  if (Status != EFI_BUFFER_TOO_SMALL || gBS == nullptr) return !EFI_ERROR(Status) && DataSize >= 1 && Data[0] != 0;
  // Longer than the policy needs, but only its first byte decides.
  VOID* Value = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, DataSize, &Value))) return EFI_FALSE;
  Status = gRT->GetVariable(kFastStartVariable, &kQuovanVariableGuid, &Attributes, &DataSize, Value);
  BOOLEAN Fast = !EFI_ERROR(Status) && DataSize >= 1 && static_cast<const UINT8*>(Value)[0] != 0;
  if (EFI_ERROR(gBS->FreePool(Value))) DebugOut(DEBUG_ERROR, "Start: FreePool refused\n");
  return Fast;
#endif
}

EFI_STATUS InstallDriverBindingProtocol(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable,
                                        EFI_DRIVER_BINDING_PROTOCOL* DriverBinding, EFI_HANDLE DriverBindingHandle) {
  EfiInitializeDriverLib(ImageHandle, SystemTable);
  if (DriverBinding == nullptr) return EFI_INVALID_PARAMETER;
  DriverBinding->ImageHandle = ImageHandle;
  DriverBinding->DriverBindingHandle = DriverBindingHandle;
  // By reference: a null handle receives a new one.
  return InstallOn(&DriverBinding->DriverBindingHandle, &kEfiDriverBindingProtocolGuid, DriverBinding);
}

EFI_STATUS InstallDriverProtocols(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE* SystemTable,
                                  EFI_DRIVER_BINDING_PROTOCOL* DriverBinding, EFI_HANDLE DriverBindingHandle,
                                  EFI_COMPONENT_NAME_PROTOCOL* ComponentName,
                                  EFI_DRIVER_CONFIGURATION_PROTOCOL* DriverConfiguration,
                                  EFI_DRIVER_DIAGNOSTICS_PROTOCOL* DriverDiagnostics) {
  EFI_STATUS Status = InstallDriverBindingProtocol(ImageHandle, SystemTable, DriverBinding, DriverBindingHandle);
  if (EFI_ERROR(Status)) return Status;

  struct OPTIONAL_PROTOCOL {
    const EFI_GUID* Guid;
    VOID* Interface;
  };
  // Installed in this order; a failure leaves the earlier ones in place.
  const OPTIONAL_PROTOCOL Optional[] = {
      {&kEfiComponentNameProtocolGuid, ComponentName},
      {&kEfiDriverConfigurationProtocolGuid, DriverConfiguration},
      {&kEfiDriverDiagnosticsProtocolGuid, DriverDiagnostics},
  };
  for (const OPTIONAL_PROTOCOL& Protocol : Optional) {
    if (Protocol.Interface == nullptr) continue;
    Status = InstallOn(&DriverBinding->DriverBindingHandle, Protocol.Guid, Protocol.Interface);
    if (EFI_ERROR(Status)) return Status;
  }
  return EFI_SUCCESS;
}

void DebugOut(UINT64 Category, const CHAR8* Format, ...) {
  if ((Category & DebugMask) == 0 || Format == nullptr) return;
  UINTN Length = AsciiLength(Format);
  if (Length > kDebugBufferLength) return;

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL* StdErr = gST != nullptr ? gST->StdErr : nullptr;
  if (StdErr != nullptr) {
    StdErr->SetAttribute(StdErr, kTextAttributeRed);
    StdErr->OutputString(StdErr, kEmptyPrefix);
    StdErr->SetAttribute(StdErr, kTextAttributeWhite);
  }

  CHAR16 WideFormat[kDebugBufferLength + 1];
  for (UINTN Index = 0; Index <= Length; ++Index) {
    WideFormat[Index] = static_cast<CHAR16>(static_cast<UINT8>(Format[Index]));
  }
  CHAR16 Text[kDebugBufferLength];
  va_list Args;
  va_start(Args, Format);
  FormatString(Text, kDebugBufferLength, WideFormat, Args);
  va_end(Args);
  if (StdErr != nullptr) StdErr->OutputString(StdErr, Text);
}

void ReportAssertion(const CHAR8* FileName, UINTN LineNumber, const CHAR8* Message) {
  DebugOut(DEBUG_ASSERTION, "%EASSERT FAILED: %a(%d): %a%N\n", FileName, LineNumber, Message);
}

EFI_STATUS FindUnicodeString(const CHAR8* Language, const CHAR8* SupportedLanguages,
                             const EFI_UNICODE_STRING_TABLE* Table, CHAR16** UnicodeString) {
  if (Language == nullptr || UnicodeString == nullptr) return EFI_INVALID_PARAMETER;
  if (SupportedLanguages == nullptr || Table == nullptr) return EFI_UNSUPPORTED;

  for (const CHAR8* Code = SupportedLanguages; *Code != 0;) {
    if (LanguageCodesEqual(Language, Code)) {
      for (; Table->Language != nullptr; ++Table) {
        if (LanguageCodesEqual(Table->Language, Language)) {
          *UnicodeString = const_cast<CHAR16*>(Table->UnicodeString);
          return EFI_SUCCESS;
        }
      }
      break;
    }
    // Next three-letter code; a short code at the end is the last one.
    UINTN Step = 0;
    while (Step < 3 && Code[Step] != 0) ++Step;
    Code += Step;
  }
  return EFI_UNSUPPORTED;
}

BOOLEAN GuidsEqual(const EFI_GUID* Guid1, const EFI_GUID* Guid2) {
  if (Guid1 == Guid2) return EFI_TRUE;
  if (Guid1 == nullptr || Guid2 == nullptr) return EFI_FALSE;
  const UINT8* Left = reinterpret_cast<const UINT8*>(Guid1);
  const UINT8* Right = reinterpret_cast<const UINT8*>(Guid2);
  for (UINTN Word = 0; Word < 4; ++Word) {
    UINT32 A = 0;
    UINT32 B = 0;
    for (UINTN Byte = 0; Byte < 4; ++Byte) {
      A |= static_cast<UINT32>(Left[Word * 4 + Byte]) << (8 * Byte);
      B |= static_cast<UINT32>(Right[Word * 4 + Byte]) << (8 * Byte);
    }
    if (A != B) return EFI_FALSE;
  }
  return EFI_TRUE;
}

INTN CompareBytes(const void* Buffer1, const void* Buffer2, UINTN Length) {
  const UINT8* Left = static_cast<const UINT8*>(Buffer1);
  const UINT8* Right = static_cast<const UINT8*>(Buffer2);
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (Left[Index] != Right[Index]) return static_cast<INTN>(Left[Index]) - static_cast<INTN>(Right[Index]);
  }
  return 0;
}

#ifndef QUOVAN_EFI_BUILD
void DriverLibResetForHost() {
  gST = nullptr;
  gBS = nullptr;
  gRT = nullptr;
  LibraryInitialized = EFI_FALSE;
  DebugMask = DEBUG_DEFAULT_MASK;
  DebugMaskLoaded = EFI_FALSE;
}
#endif
