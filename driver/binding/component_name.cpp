// Component Name (EFI 1.10, language "eng"): the driver's name, and the
// adapter's name for a controller this driver drives.
#include "driver/binding/component_name.h"

#include "driver/binding/binding.h"
#include "driver/core/context.h"
#include "driver/core/devices.h"
#include "driver/lib/driverlib.h"

EFI_COMPONENT_NAME_PROTOCOL gQuovanComponentName = {QuovanGetDriverName, QuovanGetControllerName, "eng"};
#if QUOVAN_GOP
EFI_COMPONENT_NAME2_PROTOCOL gQuovanComponentName2 = {QuovanGetDriverName2, QuovanGetControllerName2, "en"};
#endif

namespace {

const CHAR8 kModuleName[] = "quovancomponentname";
const UINT32 kControllerNameSignatureLine = 185;

const EFI_UNICODE_STRING_TABLE kDriverNameTable[] = {
    {"eng", u"ZEL Quovan UGA Driver 01.00.121"},
    {nullptr, nullptr},
};

}  // namespace

EFI_STATUS EFIAPI QuovanGetDriverName(EFI_COMPONENT_NAME_PROTOCOL* This, const CHAR8* Language,
                                      CHAR16** DriverName) {
  (void)This;
  return FindUnicodeString(Language, gQuovanComponentName.SupportedLanguages, kDriverNameTable, DriverName);
}

EFI_STATUS EFIAPI QuovanGetControllerName(EFI_COMPONENT_NAME_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                          EFI_HANDLE ChildHandle, const CHAR8* Language,
                                          CHAR16** ControllerName) {
  (void)This;
  EFI_HANDLE Agent = gQuovanDriverBinding.DriverBindingHandle;
  EFI_HANDLE Handle = ChildHandle != nullptr ? ChildHandle : ControllerHandle;

  // A started controller carries the name in its context.
  EFI_UGA_DRAW_PROTOCOL* UgaDraw = nullptr;
  EFI_STATUS Status = gBS->OpenProtocol(Handle, &kEfiUgaDrawProtocolGuid, reinterpret_cast<VOID**>(&UgaDraw),
                                        Agent, Handle, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (!EFI_ERROR(Status) && UgaDraw != nullptr) {
    ADAPTER_CONTEXT* Context = ContextFromUgaDraw(UgaDraw, kModuleName, kControllerNameSignatureLine);
    if (Context == nullptr) return EFI_INVALID_PARAMETER;
    return FindUnicodeString(Language, gQuovanComponentName.SupportedLanguages, Context->ControllerNameTable,
                             ControllerName);
  }

  // Only EFI_ALREADY_STARTED proves that this driver holds the controller;
  // an open that succeeded is undone at once.
  EFI_PCI_IO_PROTOCOL* PciIo = nullptr;
  Status = gBS->OpenProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, reinterpret_cast<VOID**>(&PciIo), Agent,
                             ControllerHandle, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (Status != EFI_ALREADY_STARTED) {
    gBS->CloseProtocol(ControllerHandle, &kEfiPciIoProtocolGuid, Agent, ControllerHandle);
    return EFI_UNSUPPORTED;
  }

  UINT32 Identifiers = 0;
  if (PciIo == nullptr || EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint32, 0, 1, &Identifiers))) {
    return EFI_NOT_FOUND;
  }
  const SUPPORTED_DEVICE_ROW* Row = nullptr;
  if (EFI_ERROR(FindDeviceRow(static_cast<UINT16>(Identifiers >> 16), &Row))) return EFI_NOT_FOUND;
  return FindUnicodeString(Language, gQuovanComponentName.SupportedLanguages, Row->Names, ControllerName);
}

#if QUOVAN_GOP
namespace {

// Component Name 2 names the same strings under the RFC 4646 tag "en"; the
// tables stay keyed by the ISO 639-2 code. Any other tag, "eng" included,
// is not one it supports.
const CHAR8* Iso639Of(const CHAR8* Language) {
  const CHAR8* Tag = gQuovanComponentName2.SupportedLanguages;
  for (UINTN Index = 0;; ++Index) {
    if (Language[Index] != Tag[Index]) return nullptr;
    if (Tag[Index] == 0) return gQuovanComponentName.SupportedLanguages;
  }
}

}  // namespace

EFI_STATUS EFIAPI QuovanGetDriverName2(EFI_COMPONENT_NAME2_PROTOCOL* This, const CHAR8* Language,
                                       CHAR16** DriverName) {
  (void)This;
  if (Language == nullptr || DriverName == nullptr) return EFI_INVALID_PARAMETER;
  const CHAR8* Code = Iso639Of(Language);
  if (Code == nullptr) return EFI_UNSUPPORTED;
  return QuovanGetDriverName(&gQuovanComponentName, Code, DriverName);
}

EFI_STATUS EFIAPI QuovanGetControllerName2(EFI_COMPONENT_NAME2_PROTOCOL* This, EFI_HANDLE ControllerHandle,
                                           EFI_HANDLE ChildHandle, const CHAR8* Language,
                                           CHAR16** ControllerName) {
  (void)This;
  if (Language == nullptr || ControllerName == nullptr) return EFI_INVALID_PARAMETER;
  const CHAR8* Code = Iso639Of(Language);
  if (Code == nullptr) return EFI_UNSUPPORTED;
  return QuovanGetControllerName(&gQuovanComponentName, ControllerHandle, ChildHandle, Code, ControllerName);
}
#endif
