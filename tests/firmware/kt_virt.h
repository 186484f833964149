// The protocol that KtVirt.efi installs beside its model-backed PCI I/O, so
// that the check application can reconfigure the virtual KT270 between
// configurations and read what the driver did: the adapter model itself
// (both images link the same model code) and what the platform stand-ins
// recorded.
#pragma once

#include "efi/efi.h"
#include "sim/adapter/kt270_model.h"

inline constexpr EFI_GUID kKtVirtProtocolGuid = {
    0x0E3C61A4, 0x7F0B, 0x4B52, {0xA1, 0x6D, 0x3B, 0x88, 0x2C, 0x47, 0x95, 0x1E}};
inline constexpr UINT32 kKtVirtRevision = 1;

constexpr UINT32 kKtVirtMaxProperties = 96;
constexpr UINT32 kKtVirtMaxValues = 8;
constexpr UINT32 kKtVirtValueBytes = 48;

struct KT_VIRT_PROPERTY {
  bool HasNode;
  CHAR16 Node[8];
  CHAR16 Name[40];
  UINT64 Size;
  UINT8 Value[kKtVirtValueBytes];  // the first bytes
};

struct KT_VIRT_PROTOCOL;
// Installs or removes the two platform protocols on their own handle.
typedef EFI_STATUS(EFIAPI* KT_VIRT_SET_PLATFORM)(KT_VIRT_PROTOCOL* This, BOOLEAN Database, BOOLEAN Services);

struct KT_VIRT_PROTOCOL {
  UINT32 Revision;
  kt270::Adapter* Adapter;
  EFI_HANDLE Controller;
  UINT64 TscPerUs;
  KT_VIRT_SET_PLATFORM SetPlatform;
  // What the platform's GetValue answers.
  UINT32 ValueCount;
  EFI_GUID ValueKeys[kKtVirtMaxValues];
  UINT32 Values[kKtVirtMaxValues];
  // Recorded calls; the check application clears them.
  UINT32 PropertyCount;  // all calls, also those beyond the array
  KT_VIRT_PROPERTY Properties[kKtVirtMaxProperties];
  UINT32 RegisterAdapterCalls;
  UINT16 RegisteredVendor, RegisteredDevice;
  EFI_HANDLE RegisteredController;
  UINT32 GetValueCalls, UnexpectedCalls;
  // PCI I/O traffic.
  UINT32 ConfigReads, ConfigWrites, MemReads[6], MemWrites[6], AttributeCalls, RefusedAccesses;
  UINT64 EnabledAttributes;
  // Time of the driver's last frame-buffer or register write (TSC).
  UINT64 LastWriteTsc;
};
