// The protocol that KtFakePci.efi installs next to its PCI I/O stand-in, so
// that test applications can find the controller and read what the driver
// did to the device.
#pragma once

#include "efi/efi.h"

inline constexpr EFI_GUID kKtFakePciProtocolGuid = {
    0x5B4ED20B, 0xF4A5, 0x4839, {0x89, 0x97, 0xE9, 0xC3, 0x98, 0x6F, 0xBD, 0x25}};

inline constexpr UINT32 kKtFakePciRevision = 1;

struct KT_FAKE_PCI_COUNTERS {
  UINT32 ConfigReads;
  UINT32 ConfigWrites;
  UINT32 CommandWrites;  // writes that reached the command register
  UINT32 MemReads[6];    // per BAR
  UINT32 MemWrites[6];
  UINT32 AttributeCalls;
  UINT32 UnsupportedCalls;  // members the stand-in does not implement
  UINT32 RefusedAccesses;   // accesses refused as the PCI bus driver would
};

struct KT_FAKE_PCI_PROTOCOL {
  UINT32 Revision;
  const UINT8* ConfigSpace;  // 256 bytes, live
  UINT64 EnabledAttributes;
  KT_FAKE_PCI_COUNTERS Counters;
};
