// The pixel PLLs: PLL 1 clocks CRTC 1, PLL 2 CRTC 2.
#pragma once

#include "efi/efi.h"

struct PIXEL_PLL_REGISTERS {
  UINT32 Prepare;    // written 1 before programming
  UINT32 RefDiv;     // bits 9..0 R
  UINT32 FbDiv;      // bits 26..16 F, bits 3..0 tenths
  UINT32 LockedAck;  // written 1 after lock
  UINT32 PostDiv;    // bits 6..0 P
  UINT32 Control;    // bits 0, 1 hold (byte access); bit 21 locked
};
constexpr PIXEL_PLL_REGISTERS PIXEL_PLLS[2] = {
    // Prepare  RefDiv  FbDiv   LockedAck  PostDiv  Control   PLL
    {0x0400,    0x0404, 0x0430, 0x0438,    0x043C,  0x0450},  // 1
    {0x0410,    0x0414, 0x0434, 0x0440,    0x0444,  0x0454},  // 2
};
// Crtc 0 is clocked by PLL 1, any other CRTC by PLL 2.
constexpr const PIXEL_PLL_REGISTERS& PixelPll(UINT8 Crtc) { return PIXEL_PLLS[Crtc == 0 ? 0 : 1]; }

constexpr UINT32 PLL_REF_DIV_KEEP = 0xFFFFFC00;
constexpr UINT32 PLL_POST_DIV_KEEP = 0xFFFFFF80;
constexpr UINT32 PLL_FB_DIV_KEEP = 0xF800FFFF;
constexpr UINT32 PLL_FB_DIV_SHIFT = 16;
constexpr UINT32 PLL_FB_TENTHS_KEEP = 0xFFFFFFF0;
constexpr UINT32 PLL_CONTROL_HOLD = 0x03;         // bits 0 and 1
constexpr UINT8 PLL_CONTROL_RELEASE_1 = 0xFD;     // bit 1 cleared first
constexpr UINT8 PLL_CONTROL_RELEASE_BOTH = 0xFC;
constexpr UINT32 PLL_CONTROL_LOCKED = 0x00200000;
