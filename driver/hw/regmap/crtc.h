// The two display controllers. Each CRTC's timing, surface, scaler and
// output-conversion registers form one block; CRTC 2's block sits
// CRTC_BLOCK_STRIDE above CRTC 1's, so every per-CRTC register is named
// once, at its CRTC 1 offset, and reached through CrtcReg. The few per-CRTC
// registers outside the block are given for both in CRTC_UNIT rows.
#pragma once

#include "efi/efi.h"

constexpr UINT32 CRTC_BLOCK_STRIDE = 0x800;
// Crtc 0 is CRTC 1; any other value CRTC 2.
constexpr UINT32 CrtcReg(UINT8 Crtc, UINT32 Reg) { return Reg + (Crtc == 0 ? 0 : CRTC_BLOCK_STRIDE); }

// Timing (0x6000-0x602C), in register order.
constexpr UINT32 CRTC_H_TOTAL = 0x6000;
constexpr UINT32 CRTC_H_BLANK = 0x6004;  // end << 16 | start; bit 31 a flag
constexpr UINT32 CRTC_H_SYNC = 0x6008;   // width << 16
constexpr UINT32 CRTC_H_SYNC_CONTROL = 0x600C;  // bit 0 set: positive polarity
constexpr UINT32 CRTC_V_TOTAL = 0x6020;
constexpr UINT32 CRTC_V_BLANK = 0x6024;
constexpr UINT32 CRTC_V_SYNC = 0x6028;
constexpr UINT32 CRTC_V_SYNC_CONTROL = 0x602C;
constexpr UINT32 CRTC_SYNC_POSITIVE = 0x1;

// Control and output.
constexpr UINT32 CRTC_CONTROL = 0x6080;
constexpr UINT32 CRTC_CONTROL_RUN = 0x00000001;
constexpr UINT32 CRTC_CONTROL_OFF = 0x01000000;
constexpr UINT32 CRTC_OUTPUT_OPTION = 0x6088;  // bit 0: panel flag; the TV path writes 1
constexpr UINT32 CRTC_OUTPUT_OPTION_PANEL = 0x1;
constexpr UINT32 CRTC_TV_TIMING_B = 0x6090;    // CRTC 2 only, for the TV encoder
constexpr UINT32 CRTC_TV_TIMING_C = 0x6094;
constexpr UINT32 CRTC_TV_TIMING_A = 0x6098;
constexpr UINT32 CRTC_TV_SOURCE = 0x60FC;      // CRTC 1's block only: the CRTC feeding the TV encoder

// Surface.
constexpr UINT32 CRTC_SURFACE_ENABLE = 0x6100;
constexpr UINT32 CRTC_SURFACE_FORMAT = 0x6104;  // bits 1..0 depth code; bits 20, 21
constexpr UINT32 CRTC_SURFACE_UPDATE = 0x6108;  // written for CRTC 2 only
constexpr UINT32 CRTC_SURFACE_BASE = 0x6110;    // byte offset in BAR 0, and the engine's surface
constexpr UINT32 CRTC_SURFACE_PITCH = 0x6120;   // pixels
constexpr UINT32 CRTC_FETCH_WIDTH = 0x6134;     // graphics end, width
constexpr UINT32 CRTC_FETCH_HEIGHT = 0x6138;    // graphics end, height
constexpr UINT32 CRTC_TV_ENABLE = 0x613C;       // CRTC 2 only

constexpr UINT32 SURFACE_FORMAT_DEPTH_MASK = 0x3;  // 0: 8, 1: 16, 2: 32 bits per pixel
constexpr UINT8 SURFACE_FORMAT_DEPTH_8 = 0;
constexpr UINT8 SURFACE_FORMAT_DEPTH_16 = 1;
constexpr UINT8 SURFACE_FORMAT_DEPTH_32 = 2;
constexpr UINT32 SURFACE_FORMAT_BIT20 = 1u << 20;
constexpr UINT32 SURFACE_FORMAT_BIT21 = 1u << 21;

// Output conversion for the TV encoder: an enable and 12 words.
constexpr UINT32 CRTC_TV_CONVERSION_ENABLE = 0x6380;
constexpr UINT32 CRTC_TV_CONVERSION_FIRST = 0x6384;
constexpr UINT32 CRTC_TV_CONVERSION_WORDS = 12;
constexpr UINT32 CRTC_TV_CONVERSION_STRIDE = 4;

// Colour lookup tables: table 0 belongs to CRTC 1, table 1 to CRTC 2.
constexpr UINT32 LUT_TABLE_SELECT = 0x6480;  // byte
constexpr UINT32 LUT_START_INDEX = 0x6488;   // byte; auto-increments
constexpr UINT32 LUT_DATA = 0x6494;          // 10-bit R << 20 | G << 10 | B
constexpr UINT32 LUT_ENTRIES = 256;

// Outside the block: the surface window of each CRTC (start, end, pitch
// word; see CRTC_UNIT) and their common control.
constexpr UINT32 SURFACE_WINDOW_CONTROL = 0x0B00;
constexpr UINT32 SURFACE_LINE_ALIGN = 256;     // bytes per line rounded up to it
constexpr UINT32 WINDOW_END_ALIGN = 0x800;     // the window ends at a 2 KiB boundary - 1
constexpr UINT32 WINDOW_PITCH_MASK = 0x1FFF;   // pitch / 2
constexpr UINT32 WINDOW_PITCH_ENABLE = 0x10000;

struct CRTC_UNIT {
  UINT32 SurfaceBase;  // byte offset of the surface in BAR 0
  UINT32 TimingLatch;
  UINT32 TimingLatchValue;
  UINT32 WindowStart;
  UINT32 WindowEnd;
  UINT32 WindowPitch;
};
constexpr CRTC_UNIT CRTC_UNITS[2] = {
    // SurfaceBase  TimingLatch  value    WindowStart  WindowEnd  WindowPitch   CRTC
    {0x00010000,    0x0480,      0,       0x0B74,      0x0B78,    0x0B7C},   // 1
    {0x00810000,    0x0484,      0x10000, 0x0B64,      0x0B68,    0x0B6C},   // 2
};
constexpr const CRTC_UNIT& CrtcUnit(UINT8 Crtc) { return CRTC_UNITS[Crtc == 0 ? 0 : 1]; }
constexpr UINT32 CRTC1_SURFACE_BASE = CRTC_UNITS[0].SurfaceBase;
constexpr UINT32 CRTC2_SURFACE_BASE = CRTC_UNITS[1].SurfaceBase;
