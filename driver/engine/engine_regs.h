// Register offsets of the display engine. CRTC-block offsets are CRTC 1's;
// CRTC 2's sit CRTC_BLOCK_STRIDE above them.
#pragma once

#include "efi/efi.h"

constexpr UINT32 CRTC_BLOCK_STRIDE = 0x800;
constexpr UINT32 CrtcBlockOffset(UINT8 Crtc) { return Crtc == 0 ? 0 : CRTC_BLOCK_STRIDE; }

// CRTC timing and control.
constexpr UINT32 CRTC_H_TOTAL = 0x6000;
constexpr UINT32 CRTC_H_BLANK = 0x6004;
constexpr UINT32 CRTC_H_SYNC = 0x6008;
constexpr UINT32 CRTC_H_SYNC_CONTROL = 0x600C;
constexpr UINT32 CRTC_V_TOTAL = 0x6020;
constexpr UINT32 CRTC_V_BLANK = 0x6024;
constexpr UINT32 CRTC_V_SYNC = 0x6028;
constexpr UINT32 CRTC_V_SYNC_CONTROL = 0x602C;
constexpr UINT32 CRTC_CONTROL = 0x6080;
constexpr UINT32 CRTC_OUTPUT_OPTION = 0x6088;  // bit 0: panel flag; TV path writes 1
constexpr UINT32 CRTC_TV_SOURCE = 0x60FC;      // CRTC 1 block only
constexpr UINT32 CRTC_SURFACE_ENABLE = 0x6100;
constexpr UINT32 CRTC_SURFACE_FORMAT = 0x6104;  // bits 1..0 depth code
constexpr UINT32 CRTC_SURFACE_BASE = 0x6110;
constexpr UINT32 CRTC_SURFACE_PITCH = 0x6120;
constexpr UINT32 CRTC_FETCH_WIDTH = 0x6134;   // graphics end, width
constexpr UINT32 CRTC_FETCH_HEIGHT = 0x6138;  // graphics end, height

constexpr UINT32 CRTC_CONTROL_RUN = 0x00000001;
constexpr UINT32 CRTC_CONTROL_OFF = 0x01000000;

// Per-CRTC registers outside the +0x800 pattern.
constexpr UINT32 CRTC1_TIMING_LATCH = 0x0480;  // written 0 by CRTC 1's mode set
constexpr UINT32 CRTC2_TIMING_LATCH = 0x0484;  // written 0x10000 by CRTC 2's
constexpr UINT32 CRTC2_SURFACE_UPDATE = 0x6908;
constexpr UINT32 SURFACE_WINDOW_CONTROL = 0x0B00;
constexpr UINT32 CRTC1_WINDOW_START = 0x0B74;
constexpr UINT32 CRTC1_WINDOW_END = 0x0B78;
constexpr UINT32 CRTC1_WINDOW_PITCH = 0x0B7C;
constexpr UINT32 CRTC2_WINDOW_START = 0x0B64;
constexpr UINT32 CRTC2_WINDOW_END = 0x0B68;
constexpr UINT32 CRTC2_WINDOW_PITCH = 0x0B6C;

// Colour lookup tables.
constexpr UINT32 LUT_TABLE_SELECT = 0x6480;
constexpr UINT32 LUT_START_INDEX = 0x6488;
constexpr UINT32 LUT_DATA = 0x6494;

// Scaler (CRTC block).
constexpr UINT32 SCALER_UPDATE = 0x6534;  // 0x10 around a mode set
constexpr UINT32 SCALER_FILTER_SELECT = 0x6578;
constexpr UINT32 SCALER_FILTER_DATA = 0x657C;
constexpr UINT32 SCALER_SOURCE_SIZE = 0x6584;
constexpr UINT32 SCALER_H_BORDER = 0x6588;
constexpr UINT32 SCALER_V_BORDER = 0x658C;
constexpr UINT32 SCALER_ENABLE = 0x6590;
constexpr UINT32 SCALER_MODE = 0x6594;
constexpr UINT32 SCALER_BYPASS = 0x659C;
constexpr UINT32 SCALER_PHASE = 0x65A4;
constexpr UINT32 SCALER_H_TAPS = 0x65B0;
constexpr UINT32 SCALER_V_TAPS = 0x65C0;
constexpr UINT32 SCALER_ROUNDING = 0x65D4;

// 2D engine registers the mode set and surface clear program.
constexpr UINT32 ENGINE_DEST_OFFSET = 0x1404;
constexpr UINT32 ENGINE_DEST_PITCH = 0x1408;
constexpr UINT32 ENGINE_FILL_COLOUR = 0x147C;
constexpr UINT32 ENGINE_LINE_LENGTH = 0x15B0;

// Pixel PLLs: PLL 1 clocks CRTC 1, PLL 2 CRTC 2.
constexpr UINT32 PLL1_PREPARE = 0x0400;
constexpr UINT32 PLL1_REF_DIV = 0x0404;
constexpr UINT32 PLL1_FB_DIV = 0x0430;
constexpr UINT32 PLL1_LOCKED_ACK = 0x0438;
constexpr UINT32 PLL1_POST_DIV = 0x043C;
constexpr UINT32 PLL1_CONTROL = 0x0450;
constexpr UINT32 PLL2_PREPARE = 0x0410;
constexpr UINT32 PLL2_REF_DIV = 0x0414;
constexpr UINT32 PLL2_FB_DIV = 0x0434;
constexpr UINT32 PLL2_LOCKED_ACK = 0x0440;
constexpr UINT32 PLL2_POST_DIV = 0x0444;
constexpr UINT32 PLL2_CONTROL = 0x0454;
constexpr UINT32 PLL_CONTROL_HOLD = 0x03;  // bits 0 and 1
constexpr UINT32 PLL_CONTROL_LOCKED = 0x00200000;

// Digital (TMDS) transmitter.
constexpr UINT32 TMDS_CONTROL = 0x7A80;
constexpr UINT32 TMDS_SOURCE = 0x7A84;
constexpr UINT32 TMDS_FORMAT = 0x7A94;
constexpr UINT32 TMDS_SYNC = 0x7AD8;
constexpr UINT32 TMDS_START = 0x7B00;
constexpr UINT32 TMDS_LANES = 0x7B04;
constexpr UINT32 TMDS_DRIVE = 0x7B0C;
constexpr UINT32 TMDS_PLL_CONTROL = 0x7B10;

// DAC B as the TV encoder drives it.
constexpr UINT32 DACB_ENABLE = 0x7A00;
constexpr UINT32 DACB_SOURCE = 0x7A04;
constexpr UINT32 DACB_POWER = 0x7A50;
constexpr UINT32 DACB_MODE = 0x7A54;
constexpr UINT32 DACB_FORCE = 0x7A58;

// TV encoder.
constexpr UINT32 TV_ENCODER_CONTROL = 0x5DFC;
constexpr UINT32 TV_ENCODER_RESET = 0x5E00;
constexpr UINT32 TV_H_TOTAL = 0x5E04;
constexpr UINT32 TV_CONVERSION_ENABLE = 0x6380;  // CRTC block
constexpr UINT32 TV_CONVERSION_FIRST = 0x6384;   // CRTC block, 12 registers
constexpr UINT32 TV_DAC_CLOCK = 0x6CBC;
