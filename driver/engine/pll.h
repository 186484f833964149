// Pixel clock PLLs: PLL 1 clocks CRTC 1, PLL 2 clocks CRTC 2.
#pragma once

#include "driver/core/context.h"

constexpr UINT32 PLL_REFERENCE_CLOCK = 2700;  // 27 MHz in 10 kHz
constexpr UINT32 DUAL_LINK_THRESHOLD = 16500;  // above this a digital output runs dual link

// Searches dividers for Target (10 kHz). Returns the achieved clock in
// 10 kHz, 0 when no setting exists; R, P and F10 (10 x F) receive the
// setting and are left alone when none is found.
UINT32 FindPllDividers(UINT32 Target, UINT32* R, UINT32* P, UINT32* F10);

// Programs the PLL of Crtc (0 or 1) with the clock of display CurrentDisplay.
// EFI_INVALID_PARAMETER, with nothing written, when no setting exists.
EFI_STATUS ProgramPixelPll(ADAPTER_CONTEXT* Context, UINT8 OutputChannel, UINT8 Crtc);
