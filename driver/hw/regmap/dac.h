// The analogue outputs. DAC B's registers sit DAC_B_STRIDE above DAC A's.
#pragma once

#include "efi/efi.h"

constexpr UINT32 DAC_B_STRIDE = 0x200;
constexpr UINT32 DACA_ENABLE = 0x7800;
constexpr UINT32 DACA_SOURCE = 0x7804;  // 0 CRTC 1, 1 CRTC 2, 2 TV encoder (DAC B)
constexpr UINT32 DACA_SETUP = 0x7828;
constexpr UINT32 DACA_BLANK = 0x7850;   // blank/power word
constexpr UINT32 DACA_CONTROL = 0x7854;
constexpr UINT32 DACB_ENABLE = DACA_ENABLE + DAC_B_STRIDE;
constexpr UINT32 DACB_SOURCE = DACA_SOURCE + DAC_B_STRIDE;
constexpr UINT32 DACB_SETUP = DACA_SETUP + DAC_B_STRIDE;
constexpr UINT32 DACB_BLANK = DACA_BLANK + DAC_B_STRIDE;
constexpr UINT32 DACB_CONTROL = DACA_CONTROL + DAC_B_STRIDE;
constexpr UINT32 DACB_FORCE = 0x7A58;  // DAC B only

constexpr UINT32 DAC_SETUP_VALUE = 0x00070200;
constexpr UINT32 DAC_BLANK_OFF = 0x01010101;
constexpr UINT32 DACA_CONTROL_ON = 0x2;
constexpr UINT32 DACB_CONTROL_VALUE = 0x00041202;
constexpr UINT32 DACB_CONTROL_NTSC = 0x00041301;
constexpr UINT32 DACB_CONTROL_PAL = 0x00041200;
constexpr UINT32 DAC_SOURCE_TV = 2;

// Bit 9 of three neighbours of SYS_SW_GPIO, which only DAC A drives.
constexpr UINT32 DACA_GPIO_CLEAR = 0x019C;
constexpr UINT32 DACA_GPIO_SET_1 = 0x01A0;
constexpr UINT32 DACA_GPIO_SET_2 = 0x0198;
constexpr UINT32 DACA_GPIO_BIT = 0x200;
