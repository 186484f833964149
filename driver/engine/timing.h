// Built-in timing table and CRTC timing: the timing words a mode set writes,
// formed from a built-in row, the platform's panel timing or a display's
// detailed timing, and the refresh rate recorded for them.
#pragma once

#include "driver/core/context.h"
#include "driver/hw/modelist.h"

// Six words per row, parallel to the mode list:
// W0 (H total - 1) << 16 | (V total - 1); W1 H blank word; W2 H sync word
// (bit 31 polarity); W3 V blank word; W4 V sync word (bit 31 polarity);
// W5 pixel clock in 10 kHz.
extern const UINT32 BuiltInTimingTable[ModeCount][6];

enum TIMING_SOURCE { TimingFromModeList, TimingFromPanel, TimingFromDetailed };

struct CRTC_TIMING {
  UINT32 HTotalReg;
  UINT32 HBlankWord;
  UINT32 HSyncWord;
  UINT32 VTotalReg;
  UINT32 VBlankWord;
  UINT32 VSyncWord;
  BOOLEAN HSyncPolarity;
  BOOLEAN VSyncPolarity;
  UINT32 PixelClock;  // 10 kHz units
  UINT32 ActiveWidth;
  UINT32 ActiveHeight;
  UINT32 BytesPerPixel;
};

// For display CurrentDisplay.
TIMING_SOURCE SelectTimingSource(const ADAPTER_CONTEXT* Context);
// The detailed timing record of an output channel (1, 2, anything else 3).
const DETAILED_TIMING* DetailedTimingOf(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel);
// The pixel clock (10 kHz) of the selected source, without forming the rest.
UINT32 SelectedPixelClock(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel);
void BuildCrtcTiming(const ADAPTER_CONTEXT* Context, UINT8 OutputChannel, CRTC_TIMING* Timing);
// Crtc 0 or 1; the sync controls are the values read at the start of the
// mode set. The first register write PCI I/O refused, or EFI_SUCCESS.
EFI_STATUS WriteCrtcTiming(ADAPTER_CONTEXT* Context, UINT8 Crtc, const CRTC_TIMING* Timing, UINT32 HSyncControl,
                           UINT32 VSyncControl);
UINT32 ComputeRefresh(UINT32 PixelClock, UINT32 HTotalReg, UINT32 VTotalReg);
