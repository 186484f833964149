// The driver's two interfaces for the platform firmware, installed on the
// controller next to UGA Draw.
#pragma once

#include "efi/efi_types.h"

struct QUOVAN_CONFIG_INTERFACE;
struct QUOVAN_DISPLAY_INTERFACE;

typedef EFI_STATUS(EFIAPI* QUOVAN_CONFIG_QUERY)(QUOVAN_CONFIG_INTERFACE* This, UINT64* FrameBufferAddress,
                                                 UINT32* MemorySize, UINT32* BytesPerRow, UINT32* Width,
                                                 UINT32* Height, UINT32* BitsPerPixel);

struct QUOVAN_CONFIG_INTERFACE {
  QUOVAN_CONFIG_QUERY Query;
};
static_assert(sizeof(QUOVAN_CONFIG_INTERFACE) == 8, "config interface layout");

typedef EFI_STATUS(EFIAPI* QUOVAN_DISPLAY_SET_INFO)(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer,
                                                     UINTN Size);
typedef EFI_STATUS(EFIAPI* QUOVAN_DISPLAY_GET_INFO)(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer,
                                                     UINTN* Size);

struct QUOVAN_DISPLAY_INTERFACE {
  UINT64 Reserved;  // stays 0
  QUOVAN_DISPLAY_SET_INFO SetInfo;
  QUOVAN_DISPLAY_GET_INFO GetInfo;
};
static_assert(offsetof(QUOVAN_DISPLAY_INTERFACE, SetInfo) == 8, "display interface layout");
static_assert(sizeof(QUOVAN_DISPLAY_INTERFACE) == 24, "display interface layout");
