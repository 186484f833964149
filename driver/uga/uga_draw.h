// UGA Draw: mode control and drawing, the protocol Start installs on the
// controller.
#pragma once

#include "driver/core/context.h"

EFI_STATUS EFIAPI UgaDrawGetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32* HorizontalResolution,
                                 UINT32* VerticalResolution, UINT32* ColorDepth, UINT32* RefreshRate);
EFI_STATUS EFIAPI UgaDrawSetMode(EFI_UGA_DRAW_PROTOCOL* This, UINT32 HorizontalResolution,
                                 UINT32 VerticalResolution, UINT32 ColorDepth, UINT32 RefreshRate);
EFI_STATUS EFIAPI UgaDrawBlt(EFI_UGA_DRAW_PROTOCOL* This, EFI_UGA_PIXEL* BltBuffer,
                             EFI_UGA_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                             UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta);

// The bodies behind the protocol functions, shared with Graphics Output:
// one mode-set path and one drawing path.
void GetDisplayMode(const ADAPTER_CONTEXT* Context, UINT32* HorizontalResolution, UINT32* VerticalResolution,
                    UINT32* ColorDepth, UINT32* RefreshRate);
EFI_STATUS SetDisplayMode(ADAPTER_CONTEXT* Context, UINT32 HorizontalResolution, UINT32 VerticalResolution,
                          UINT32 ColorDepth, UINT32 RefreshRate);
EFI_STATUS BltOnDisplays(ADAPTER_CONTEXT* Context, EFI_UGA_PIXEL* BltBuffer, EFI_UGA_BLT_OPERATION BltOperation,
                         UINTN SourceX, UINTN SourceY, UINTN DestinationX, UINTN DestinationY, UINTN Width,
                         UINTN Height, UINTN Delta);
