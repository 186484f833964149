// What the check applications KtCheck.efi and KtE2e.efi share: their
// command line, the TSC clock, finding our driver, and the open records on
// a controller's protocols.
#pragma once

#include "efi/efi.h"
#include "tests/firmware/debugcon.h"

namespace app {

// Only the check applications need these, so they live here rather than in efi/.
inline constexpr EFI_GUID kComponentName2Guid = {
    0x6A7A5CFF, 0xE8D9, 0x4F70, {0xBA, 0xDA, 0x75, 0xAB, 0x30, 0x25, 0xCE, 0x14}};
struct LOADED_IMAGE {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE* SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL* FilePath;
  VOID* Reserved;
  UINT32 LoadOptionsSize;
  VOID* LoadOptions;
  // image base, size, types and Unload follow; not needed here
};

inline constexpr char16_t kDriverName[] = u"ZEL Quovan UGA Driver 01.00.121";

inline bool SameString16(const CHAR16* a, const CHAR16* b) {
  if (!a || !b) return false;
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}
// The word a at the start of the n characters of b, ended there by a
// space or NUL.
inline bool SameAscii(const char* a, const CHAR16* b, UINTN n) {
  UINTN i = 0;
  for (; a[i] && i < n; ++i)
    if ((CHAR16)a[i] != b[i]) return false;
  return !a[i] && (i == n || b[i] == 0 || b[i] == u' ');
}

// The word after an option on the UCS-2 command line (of *length
// characters; empty at the end of the line), or null when the option is
// not there.
inline const CHAR16* Argument(const LOADED_IMAGE* image, const char* option, UINTN* length) {
  if (!image || !image->LoadOptions) return nullptr;
  const CHAR16* s = static_cast<const CHAR16*>(image->LoadOptions);
  UINTN n = image->LoadOptionsSize / sizeof(CHAR16);
  for (UINTN i = 0; i < n; ++i) {
    if (i > 0 && s[i - 1] != u' ') continue;
    if (!SameAscii(option, s + i, n - i)) continue;
    UINTN at = i;
    while (at < n && s[at] && s[at] != u' ') ++at;
    while (at < n && s[at] == u' ') ++at;
    UINTN end = at;
    while (end < n && s[end] && s[end] != u' ') ++end;
    *length = end - at;
    return s + at;
  }
  return nullptr;
}
inline bool HasArgument(const LOADED_IMAGE* image, const char* option) {
  UINTN length = 0;
  return Argument(image, option, &length) != nullptr;
}

// TSC ticks per microsecond, against the firmware's Stall.
inline UINT64 MeasureTscPerUs(EFI_BOOT_SERVICES* bs) {
  UINT64 t0 = debugcon::ReadTsc();
  bs->Stall(20000);
  UINT64 ticks = debugcon::ReadTsc() - t0;
  return ticks / 20000 ? ticks / 20000 : 1;
}

template <typename T>
T* ProtocolOn(EFI_BOOT_SERVICES* bs, EFI_HANDLE image, EFI_HANDLE handle, const EFI_GUID* guid) {
  VOID* iface = nullptr;
  if (!handle || EFI_ERROR(bs->OpenProtocol(handle, guid, &iface, image, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL)))
    return nullptr;
  return static_cast<T*>(iface);
}

struct OurDriver {
  EFI_DRIVER_BINDING_PROTOCOL* binding;
  EFI_COMPONENT_NAME_PROTOCOL* name;
  const CHAR16* driverName;
  UINTN bindings;  // Driver Bindings in the system
};
// Our driver is the Driver Binding whose image carries a Component Name
// that answers "eng" with our driver name.
inline OurDriver FindOurDriver(EFI_BOOT_SERVICES* bs, EFI_HANDLE image) {
  OurDriver d = {nullptr, nullptr, nullptr, 0};
  EFI_HANDLE* handles = nullptr;
  EFI_STATUS s = bs->LocateHandleBuffer(ByProtocol, &kEfiDriverBindingProtocolGuid, nullptr, &d.bindings, &handles);
  if (EFI_ERROR(s)) return d;
  for (UINTN i = 0; i < d.bindings && !d.binding; ++i) {
    auto* b = ProtocolOn<EFI_DRIVER_BINDING_PROTOCOL>(bs, image, handles[i], &kEfiDriverBindingProtocolGuid);
    auto* cn =
        b ? ProtocolOn<EFI_COMPONENT_NAME_PROTOCOL>(bs, image, b->ImageHandle, &kEfiComponentNameProtocolGuid)
          : nullptr;
    CHAR16* text = nullptr;
    if (cn && !EFI_ERROR(cn->GetDriverName(cn, "eng", &text)) && SameString16(text, kDriverName)) {
      d.binding = b;
      d.name = cn;
      d.driverName = text;
    }
  }
  bs->FreePool(handles);
  return d;
}

// An agent's driver name, through Component Name 2 or Component Name.
inline const CHAR16* DriverNameOf(EFI_BOOT_SERVICES* bs, EFI_HANDLE image, EFI_HANDLE agent) {
  CHAR16* name = nullptr;
  auto* cn2 = ProtocolOn<EFI_COMPONENT_NAME_PROTOCOL>(bs, image, agent, &kComponentName2Guid);
  if (cn2 && !EFI_ERROR(cn2->GetDriverName(cn2, "en", &name))) return name;
  auto* cn = ProtocolOn<EFI_COMPONENT_NAME_PROTOCOL>(bs, image, agent, &kEfiComponentNameProtocolGuid);
  if (cn && !EFI_ERROR(cn->GetDriverName(cn, "eng", &name))) return name;
  return nullptr;
}

// Open records on a protocol of the controller: BY_DRIVER opens in total,
// and those of one agent. With names, the BY_DRIVER agents' driver names
// are added to it as array items.
struct Opens {
  UINTN byDriver, byAgent;
};
inline Opens CountOpens(EFI_BOOT_SERVICES* bs, EFI_HANDLE image, EFI_HANDLE controller, const EFI_GUID* protocol,
                        EFI_HANDLE agent, debugcon::JsonLine* names = nullptr) {
  Opens o = {0, 0};
  EFI_OPEN_PROTOCOL_INFORMATION_ENTRY* entries = nullptr;
  UINTN count = 0;
  if (EFI_ERROR(bs->OpenProtocolInformation(controller, protocol, &entries, &count))) return o;
  bool first = true;
  for (UINTN i = 0; i < count; ++i) {
    if (entries[i].AgentHandle == agent) o.byAgent++;
    if (!(entries[i].Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER)) continue;
    o.byDriver++;
    if (names) {
      names->Raw(first ? "\"" : ",\"");
      const CHAR16* name = DriverNameOf(bs, image, entries[i].AgentHandle);
      for (; name && *name; ++name) {
        char c[2] = {*name < 0x80 && *name != u'"' && *name != u'\\' ? (char)*name : '?', 0};
        names->Raw(c);
      }
      names->Raw("\"");
      first = false;
    }
  }
  bs->FreePool(entries);
  return o;
}

}  // namespace app
