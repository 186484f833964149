// The driver's two interfaces for the platform firmware: the configuration
// interface (Query) and the display interface (SetInfo, GetInfo), both
// embedded in the adapter context.
#pragma once

#include "driver/core/context.h"

#define LINK_LIMITS_SIZE 48

EFI_STATUS EFIAPI ConfigQuery(QUOVAN_CONFIG_INTERFACE* This, UINT64* FrameBufferAddress, UINT32* MemorySize,
                              UINT32* BytesPerRow, UINT32* Width, UINT32* Height, UINT32* BitsPerPixel);
EFI_STATUS EFIAPI DisplaySetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN Size);
EFI_STATUS EFIAPI DisplayGetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN* Size);

// Fills the 48-byte record for the selected connector; EFI_UNSUPPORTED,
// with the record untouched, for a type without limits.
EFI_STATUS GetLinkLimits(ADAPTER_CONTEXT* Context, UINT8* Record);
