// Graphics Output (UEFI 2.x) over the UGA Draw mode logic: the same mode
// set and the same drawing path, with the mode list of display 0.
#pragma once

#include "driver/core/context.h"

EFI_STATUS EFIAPI GopQueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 ModeNumber, UINTN* SizeOfInfo,
                               EFI_GRAPHICS_OUTPUT_MODE_INFORMATION** Info);
EFI_STATUS EFIAPI GopSetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, UINT32 ModeNumber);
EFI_STATUS EFIAPI GopBlt(EFI_GRAPHICS_OUTPUT_PROTOCOL* This, EFI_GRAPHICS_OUTPUT_BLT_PIXEL* BltBuffer,
                         EFI_GRAPHICS_OUTPUT_BLT_OPERATION BltOperation, UINTN SourceX, UINTN SourceY,
                         UINTN DestinationX, UINTN DestinationY, UINTN Width, UINTN Height, UINTN Delta);

// Fills in the protocol and a record of the idle mode (800 x 600, what
// GetMode reports before the engine runs); no display is touched.
void InitializeGraphicsOutput(ADAPTER_CONTEXT* Context);

// Start's part: discovers the displays, builds the mode list of display 0
// once and lights mode 0, then keeps display 0's EDID for the EDID
// protocols. The list, in this order, each size once and none whose
// surface does not fit the aperture: display 0's own timing (a detailed or
// panel timing; a television's standard row), then the built-in rows its
// monitor declares, in row order, then, for a panel or digital display,
// every other built-in row the scaler shows on its raster. With nothing of
// that (no monitor), the 800 x 600 row. A mode that cannot be lit leaves
// Start going on; only a failed allocation is returned.
EFI_STATUS PrepareGraphicsOutput(ADAPTER_CONTEXT* Context);

// The record follows what is lit (the context's ModesChanged): the entry of
// the size in force, its pitch as programmed.
void SyncGraphicsOutput(ADAPTER_CONTEXT* Context);

// Frees the EDID block, once the EDID protocols are off the controller.
void ReleaseGraphicsOutput(ADAPTER_CONTEXT* Context);
