// CRTC mode set and switch-off, surface depth and the colour lookup tables.
#pragma once

#include "driver/core/context.h"

// Pitch in 4-byte units: each line rounded up to a multiple of 256 bytes.
UINT32 SurfacePitch(UINT32 Width, UINT32 BytesPerPixel);
UINT32 SurfaceEnd(UINT32 Base, UINT32 Pitch, UINT32 Height);
UINT32 SurfacePitchWord(UINT32 Pitch);
// Whether a 32-bit surface of Width x Height on the CRTC's surface base
// (CRTC 1's for no CRTC: the surface clear uses it) lies inside the
// frame-buffer aperture; TRUE when the aperture's length is unknown.
BOOLEAN SurfaceFitsAperture(const ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT64 Width, UINT64 Height);

// Crtc 0 (CRTC 1) or 1 (CRTC 2), for display CurrentDisplay. The first
// register write PCI I/O refused, or EFI_SUCCESS (an unlocked PLL is not
// reported).
EFI_STATUS SetCrtcMode(ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT8 OutputChannel);
// Re-derives the surface's pitch words and end from a surface of Width x
// Height (32-bit), as the mode set does from the native raster.
void SetSurfaceSize(ADAPTER_CONTEXT* Context, UINT8 Crtc, UINT32 Width, UINT32 Height);
// The pitch (pixels) of the surface display Display shows once its outputs
// are programmed: laid out for the native raster, or for a larger source
// the scaler takes.
UINT32 ShownSurfacePitch(const ADAPTER_CONTEXT* Context, UINT8 Display);
void DisableCrtc(ADAPTER_CONTEXT* Context, UINT8 Crtc);
void SetSurfaceDepth(ADAPTER_CONTEXT* Context);
void LoadIdentityLut(ADAPTER_CONTEXT* Context);
