// TEMPORARY. Declarations of functions that the driver core calls and whose
// units have not landed yet. Each owner moves its declaration into its own
// header (and includes that where this one is included), then deletes the
// entry here and its placeholder in pending.cpp.
#pragma once

#include "driver/core/context.h"
#include "driver/uga/uga_draw.h"

// Platform interfaces (driver/platform).
EFI_STATUS EFIAPI ConfigQuery(QUOVAN_CONFIG_INTERFACE* This, UINT64* FrameBufferAddress, UINT32* MemorySize,
                              UINT32* BytesPerRow, UINT32* Width, UINT32* Height, UINT32* BitsPerPixel);
EFI_STATUS EFIAPI DisplaySetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN Size);
EFI_STATUS EFIAPI DisplayGetInfo(QUOVAN_DISPLAY_INTERFACE* This, EFI_GUID* Key, VOID* Buffer, UINTN* Size);

// Display-node names (driver/platform).
EFI_STATUS NameDisplayNodes(ADAPTER_CONTEXT* Context);
