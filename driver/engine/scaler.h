// The display scaler between a CRTC's surface and its raster.
#pragma once

#include "driver/core/context.h"

// Fits CurrentMode of display CurrentDisplay onto its NativeMode.
// EFI_INVALID_PARAMETER, with the scaler bypassed, when the engine clock is
// too low for the scaled pixel rate or either mode has no size.
EFI_STATUS SetupScaler(ADAPTER_CONTEXT* Context);
// SetupScaler's clock checks alone: whether a WR x HR surface can be
// scaled onto a WT x HT raster of the given pixel clock (10 kHz units).
BOOLEAN ScalerClockAllows(UINT64 EngineClock, UINT64 PixelClock, UINT64 WT, UINT64 HT, UINT64 WR, UINT64 HR);
// Crtc 0 or 1; any other value writes nothing.
void EnableScaler(ADAPTER_CONTEXT* Context, UINT8 Crtc);
void BypassScaler(ADAPTER_CONTEXT* Context, UINT8 Crtc);
void LoadScalerFilters(ADAPTER_CONTEXT* Context, UINT8 Crtc);
