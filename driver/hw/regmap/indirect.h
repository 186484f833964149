// The three indirect register spaces, each an index/data register pair in
// the register aperture:
//   space               index   data   write enable
//   memory controller   0x70    0x74   index bit 23
//   clock               0x08    0x0C   index bit 7
//   indexed             0x30    0x34   none
// and the indices the driver uses in each, in index order.
#pragma once

#include "efi/efi.h"

// ---------------------------------------------------------------- memory controller
constexpr UINT32 MC_INDEX_REG = 0x70;
constexpr UINT32 MC_DATA_REG = 0x74;
constexpr UINT32 MC_INDEX_MASK = 0xFFFF;
constexpr UINT32 MC_WRITE_ENABLE = 0x00800000;
constexpr UINT32 MC_WRITE_KEEP = 0x007F0000;  // bits 16-22 survive a write
constexpr UINT32 MC_READ_KEEP = 0xFF7F0000;   // bits 16-22 and 24-31 survive a read

constexpr UINT32 MC_CONFIG = 0x05;  // bits 7..5: refresh interval exponent
constexpr UINT32 MC_06 = 0x06;
constexpr UINT32 MC_STATUS = 0x08;  // bit 4: idle
constexpr UINT32 MC_0F = 0x0F;
constexpr UINT32 MC_2D = 0x2D;
constexpr UINT32 MC_TIMING = 0x2E;
constexpr UINT32 MC_COMMAND = 0x2F;  // memory-device command port
constexpr UINT32 MC_30 = 0x30;
constexpr UINT32 MC_CONTROL = 0x31;
constexpr UINT32 MC_35 = 0x35;
constexpr UINT32 MC_PULSE_A = 0x37;
constexpr UINT32 MC_PULSE_B = 0x38;
constexpr UINT32 MC_3B = 0x3B;
constexpr UINT32 MC_3C = 0x3C;
constexpr UINT32 MC_RANK_FIRST = 0x3D;  // 0x3D..0x44, alternating P0 and P1
constexpr UINT32 MC_RANK_SECOND = 0x3E;  // each rank's P1 word
constexpr UINT32 MC_RANK_STRIDE = 2;
constexpr UINT32 MC_4D = 0x4D;          // 0x4D..0x50
constexpr UINT32 MC_55 = 0x55;          // 0x55..0x58
constexpr UINT32 MC_65 = 0x65;          // 0x65..0x68
constexpr UINT32 MC_69 = 0x69;          // 0x69..0x6C
constexpr UINT32 MC_71 = 0x71;          // 0x71..0x74
constexpr UINT32 MC_79 = 0x79;          // 0x79..0x7C
constexpr UINT32 MC_81 = 0x81;
constexpr UINT32 MC_82 = 0x82;
constexpr UINT32 MC_85 = 0x85;
constexpr UINT32 MC_86 = 0x86;
constexpr UINT32 MC_89 = 0x89;
constexpr UINT32 MC_8A = 0x8A;
constexpr UINT32 MC_8D = 0x8D;
constexpr UINT32 MC_8E = 0x8E;
constexpr UINT32 MC_8F = 0x8F;
constexpr UINT32 MC_DEVICE_MODE = 0x91;  // bits 31..28 = 2: extended commands

constexpr UINT32 MC_STATUS_IDLE = 0x10;
constexpr UINT32 MC_CONFIG_REFRESH_SHIFT = 5;
constexpr UINT32 MC_CONFIG_REFRESH_MASK = 0x7;
constexpr UINT32 MC_DEVICE_MODE_EXTENDED = 2;  // bits 31..28

// ---------------------------------------------------------------- clock
constexpr UINT32 CLK_INDEX_REG = 0x08;
constexpr UINT32 CLK_DATA_REG = 0x0C;
constexpr UINT32 CLK_INDEX_MASK = 0x7F;
constexpr UINT32 CLK_WRITE_ENABLE = 0x80;

// Engine clock PLL on indices 0-3, memory clock PLL on 4-7.
constexpr UINT32 CLK_ENGINE_PLL = 0x00;  // control
constexpr UINT32 CLK_ENGINE_PLL_1 = 0x01;
constexpr UINT32 CLK_ENGINE_PLL_2 = 0x02;
constexpr UINT32 CLK_ENGINE_PLL_3 = 0x03;
constexpr UINT32 CLK_MEMORY_PLL = 0x04;  // control
constexpr UINT32 CLK_MEMORY_PLL_1 = 0x05;
constexpr UINT32 CLK_MEMORY_PLL_2 = 0x06;
constexpr UINT32 CLK_MEMORY_PLL_3 = 0x07;
constexpr UINT32 CLK_MISC_CONTROL = 0x08;
constexpr UINT32 CLK_OUTPUT_RAMP = 0x0A;
constexpr UINT32 CLK_MEMORY_IO = 0x0B;
constexpr UINT32 CLK_10 = 0x10;
constexpr UINT32 CLK_12 = 0x12;
constexpr UINT32 CLK_14 = 0x14;
constexpr UINT32 CLK_15 = 0x15;
constexpr UINT32 CLK_16 = 0x16;
constexpr UINT32 CLK_17 = 0x17;
constexpr UINT32 CLK_18 = 0x18;
constexpr UINT32 CLK_19 = 0x19;
constexpr UINT32 CLK_1A = 0x1A;
constexpr UINT32 CLK_1B = 0x1B;
constexpr UINT32 CLK_1C = 0x1C;
constexpr UINT32 CLK_1D = 0x1D;
constexpr UINT32 CLK_1E = 0x1E;
constexpr UINT32 CLK_26 = 0x26;
constexpr UINT32 CLK_27 = 0x27;
constexpr UINT32 CLK_28 = 0x28;
constexpr UINT32 CLK_MEMORY_TYPE = 0x2E;  // bits 27..24

constexpr UINT32 CLK_PLL_FEEDBACK_SHIFT = 5;
constexpr UINT32 CLK_MEMORY_TYPE_SHIFT = 24;
constexpr UINT32 CLK_MEMORY_TYPE_MASK = 0x0F;

// ---------------------------------------------------------------- indexed
constexpr UINT32 IDX_INDEX_REG = 0x30;
constexpr UINT32 IDX_DATA_REG = 0x34;

constexpr UINT32 IDX_01 = 0x01;
constexpr UINT32 IDX_03 = 0x03;
constexpr UINT32 IDX_70 = 0x70;
constexpr UINT32 IDX_85 = 0x85;
constexpr UINT32 IDX_91 = 0x91;
constexpr UINT32 IDX_92 = 0x92;
constexpr UINT32 IDX_93 = 0x93;
constexpr UINT32 IDX_A0 = 0xA0;
constexpr UINT32 IDX_B0 = 0xB0;
constexpr UINT32 IDX_E0 = 0xE0;
