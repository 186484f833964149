// Context initialisation: enables the controller, gives a fresh adapter
// context its starting values and timer event, and publishes the adapter
// properties. Start fills in the interfaces' function pointers.
#pragma once

#include "driver/core/context.h"

// Runs once per Start on a zeroed context whose Start-owned fields are set.
// EFI_DEVICE_ERROR when configuration space cannot be read or written or
// the timer event cannot be created.
EFI_STATUS InitializeAdapter(ADAPTER_CONTEXT* Context);

// For a failed Start: the PCI I/O attributes and the command register as
// InitializeAdapter found them (the last write puts back the very bits).
void RestoreControllerAsFound(ADAPTER_CONTEXT* Context);

// Identification block in the image's initialised data, for tools that
// inspect the image; no code of the driver reads it. The addresses are
// fixed up by the loader.
struct IDENTIFICATION_BLOCK {
  CHAR8 Tag1[8];  // "llez" and four zeros
  CHAR8 Tag2[8];  // "laco" and four zeros
  const UINT32* DefaultEngineClock;
  const UINT32* DefaultMemoryClock;
  const CHAR8* BoardName;
  const CHAR8* Model;
  const CHAR8* RomPartNumber;
  const CHAR8* CardPartNumber;
  const CHAR8* Version;
  const CHAR16* DriverName;
  const UINT64* DriverVersion;
};
static_assert(sizeof(IDENTIFICATION_BLOCK) == 16 + 9 * 8, "two tags and nine 64-bit addresses");

extern const IDENTIFICATION_BLOCK QuovanIdentificationBlock;
