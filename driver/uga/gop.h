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

// Fills in the protocol and its mode record, and rebuilds the mode list
// from display 0 (set as the context's ModesChanged by Start). The list, in
// this order: the display's own timing where it has one (a television's or
// the default display's list row otherwise), then every built-in row its
// discovery marked supported, in row order; then, if the mode in force is
// none of these (a size the scaler shows), that mode. Mode is the entry of
// the mode in force, or, before the engine runs, of what GetMode reports
// (800 x 600 at 60 Hz, the only entry before displays are discovered).
void RefreshGraphicsOutput(ADAPTER_CONTEXT* Context);
