// TEMPORARY. Declarations of functions that the driver core calls and whose
// units have not landed yet. Each owner moves its declaration into its own
// header (and includes that where this one is included), then deletes the
// entry here and its placeholder in pending.cpp.
#pragma once

#include "driver/core/context.h"

// UGA Draw (driver/uga).
EFI_STATUS EFIAPI UgaDrawGetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32* HorizontalResolution,
                                 UINT32* VerticalResolution, UINT32* ColorDepth, UINT32* RefreshRate);
EFI_STATUS EFIAPI UgaDrawSetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 HorizontalResolution,
                                 UINT32 VerticalResolution, UINT32 ColorDepth, UINT32 RefreshRate);
EFI_STATUS EFIAPI UgaDrawBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* BltBuffer,
                             EFI_UGA_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                             UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta);

// Platform interfaces and display nodes (driver/platform).
#include "driver/platform/callbacks.h"
#include "driver/platform/nodes.h"
