#include "driver/binding/interfaces.h"

#include "driver/lib/driverlib.h"

constexpr DRIVER_INTERFACE kDriverInterfaces[] = {
    {INSTALLED_UGA_DRAW, INTERFACE_GROUP_DISPLAY, &kEfiUgaDrawProtocolGuid, offsetof(ADAPTER_CONTEXT, UgaDraw)},
#if QUOVAN_GOP
    {INSTALLED_GRAPHICS_OUTPUT, INTERFACE_GROUP_DISPLAY, &kEfiGraphicsOutputProtocolGuid,
     offsetof(ADAPTER_CONTEXT, Gop)},
    {INSTALLED_EDID_DISCOVERED, INTERFACE_GROUP_DISPLAY, &kEfiEdidDiscoveredProtocolGuid,
     offsetof(ADAPTER_CONTEXT, EdidDiscovered)},
    {INSTALLED_EDID_ACTIVE, INTERFACE_GROUP_DISPLAY, &kEfiEdidActiveProtocolGuid,
     offsetof(ADAPTER_CONTEXT, EdidActive)},
#endif
    {INSTALLED_CONFIG_INTERFACE, INTERFACE_GROUP_PLATFORM, &kConfigInterfaceGuid,
     offsetof(ADAPTER_CONTEXT, ConfigInterface)},
    {INSTALLED_DISPLAY_INTERFACE, INTERFACE_GROUP_PLATFORM, &kDisplayInterfaceGuid,
     offsetof(ADAPTER_CONTEXT, DisplayInterface)},
};
constexpr UINTN kDriverInterfaceCount = sizeof(kDriverInterfaces) / sizeof(kDriverInterfaces[0]);

namespace {

// The variadic services take the pairs as arguments: the calls below pass
// this many, the unused ones null, and the first null GUID ends the list.
constexpr UINTN kMaxPairs = 8;
static_assert(kDriverInterfaceCount <= kMaxPairs, "more interfaces than one call passes");

VOID* const kEndOfList = nullptr;

struct PAIRS {
  const EFI_GUID* Guid[kMaxPairs];
  VOID* Interface[kMaxPairs];
};

// The rows whose bit is in Bits, in table order.
void CollectPairs(ADAPTER_CONTEXT* Context, UINT8 Bits, PAIRS* Pairs) {
  UINTN Count = 0;
  for (UINTN Index = 0; Index < kMaxPairs; ++Index) {
    Pairs->Guid[Index] = nullptr;
    Pairs->Interface[Index] = nullptr;
  }
  for (UINTN Index = 0; Index < kDriverInterfaceCount; ++Index) {
    const DRIVER_INTERFACE& Row = kDriverInterfaces[Index];
    if ((Bits & Row.Bit) == 0) continue;
    Pairs->Guid[Count] = Row.Guid;
    Pairs->Interface[Count] = reinterpret_cast<UINT8*>(Context) + Row.Offset;
    ++Count;
  }
}

UINT8 GroupBits(UINT8 Group) {
  UINT8 Bits = 0;
  for (UINTN Index = 0; Index < kDriverInterfaceCount; ++Index) {
    if (kDriverInterfaces[Index].Group == Group) Bits = static_cast<UINT8>(Bits | kDriverInterfaces[Index].Bit);
  }
  return Bits;
}

}  // namespace

EFI_STATUS InstallInterfaceGroup(ADAPTER_CONTEXT* Context, UINT8 Group) {
  const UINT8 Bits = GroupBits(Group);
  PAIRS P;
  CollectPairs(Context, Bits, &P);
  if (P.Guid[0] == nullptr) return EFI_SUCCESS;
  EFI_HANDLE Handle = Context->ControllerHandle;
  EFI_STATUS Status = gBS->InstallMultipleProtocolInterfaces(
      &Handle, P.Guid[0], P.Interface[0], P.Guid[1], P.Interface[1], P.Guid[2], P.Interface[2], P.Guid[3],
      P.Interface[3], P.Guid[4], P.Interface[4], P.Guid[5], P.Interface[5], P.Guid[6], P.Interface[6], P.Guid[7],
      P.Interface[7], kEndOfList);
  if (EFI_ERROR(Status)) return Status;
  Context->InstalledInterfaces = static_cast<UINT8>(Context->InstalledInterfaces | Bits);
  return EFI_SUCCESS;
}

EFI_STATUS UninstallInterfaces(ADAPTER_CONTEXT* Context) {
  PAIRS P;
  CollectPairs(Context, Context->InstalledInterfaces, &P);
  if (P.Guid[0] == nullptr) return EFI_SUCCESS;
  EFI_STATUS Status = gBS->UninstallMultipleProtocolInterfaces(
      Context->ControllerHandle, P.Guid[0], P.Interface[0], P.Guid[1], P.Interface[1], P.Guid[2], P.Interface[2],
      P.Guid[3], P.Interface[3], P.Guid[4], P.Interface[4], P.Guid[5], P.Interface[5], P.Guid[6], P.Interface[6],
      P.Guid[7], P.Interface[7], kEndOfList);
  if (EFI_ERROR(Status)) return Status;
  Context->InstalledInterfaces = 0;
  return EFI_SUCCESS;
}

void ReinstallInterfaces(ADAPTER_CONTEXT* Context, UINT8 Removed) {
  for (UINT8 Group = 0; Group < INTERFACE_GROUPS; ++Group) {
    if ((GroupBits(Group) & Removed) == 0) continue;
    if (EFI_ERROR(InstallInterfaceGroup(Context, Group))) {
      DebugOut(DEBUG_ERROR, "StopAdapter: interfaces could not be put back\n");
    }
  }
}
